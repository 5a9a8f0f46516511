#include "services/machine_facts.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>

#include "core/settings.h"
#include "core/text.h"
#include "temp_folder.h"

namespace velquist {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

TEST(WindowsOsNameText, FollowsTheVersionTable) {
    struct Case {
        WindowsVersion version;
        const char* expected;
    };
    const auto v = [](unsigned major, unsigned minor) {
        WindowsVersion version;
        version.major = major;
        version.minor = minor;
        return version;
    };
    const auto with = [](WindowsVersion version, auto change) {
        change(version);
        return version;
    };
    const Case cases[] = {
        {v(4, 0), "Microsoft Windows NT 4.0 "},
        {with(v(4, 0), [](auto& w) { w.platformId = 1; }), "Microsoft Windows 95 "},
        {v(4, 10), "Microsoft Windows 98 "},
        {v(4, 90), "Microsoft Windows Me "},
        {v(5, 0), "Microsoft Windows 2000 "},
        {with(v(5, 1), [](auto& w) { w.servicePack = "Service Pack 3"; }),
         "Microsoft Windows XP Service Pack 3"},
        {with(v(5, 2), [](auto& w) { w.processorArchitecture = 9; }),
         "Microsoft Windows XP Professional x64 Edition "},
        {with(v(5, 2), [](auto& w) { w.productType = 3; }), "Microsoft Windows Server 2003 "},
        {with(v(5, 2),
              [](auto& w) {
                  w.productType = 3;
                  w.serverR2 = true;
              }),
         "Microsoft Windows Server 2003 R2 "},
        // A 32-bit workstation 5.2 is not the x64 edition: the server tests decide.
        {v(5, 2), "Microsoft Windows Server 2003 "},
        {v(6, 0), "Microsoft Windows Vista "},
        {with(v(6, 0), [](auto& w) { w.productType = 2; }), "Microsoft Windows Server 2008 "},
        {with(v(6, 1), [](auto& w) { w.servicePack = "Service Pack 1"; }),
         "Microsoft Windows 7 Service Pack 1"},
        {with(v(6, 1), [](auto& w) { w.productType = 3; }), "Microsoft Windows Server 2008 R2 "},
        {with(v(6, 2), [](auto& w) { w.productType = 3; }), "Microsoft Windows 8 "},
        {v(10, 0), "未知操作系统 "},
        {v(3, 51), "未知操作系统 "},
        // Another minor version of a known major has no name: only the space is left.
        {v(6, 3), " "},
        {with(v(4, 0), [](auto& w) { w.platformId = 0; }), " "},
        {with(v(6, 1), [](auto& w) { w.available = false; }), ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WindowsOsNameText(c.version), c.expected)
            << c.version.major << "." << c.version.minor;
    }
    // The OS text trims the name, so an unnamed version leaves just the bits.
    EXPECT_EQ(OsText({"", "", WindowsOsNameText(v(6, 3)), "32"}), " 32");
    EXPECT_EQ(
        OsText({"", "",
                WindowsOsNameText(with(v(6, 1), [](auto& w) { w.servicePack = "Service Pack 1"; })),
                "64"}),
        "Microsoft Windows 7 Service Pack 1 64");
}

TEST(OsNameFromOsRelease, PrettyNameElseNameAndVersion) {
    struct Case {
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {"NAME=\"Debian GNU/Linux\"\nVERSION=\"12 (bookworm)\"\n"
         "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n",
         "Debian GNU/Linux 12 (bookworm)"},
        {"# comment\nNAME=Fedora\nVERSION='39 (Workstation Edition)'\n",
         "Fedora 39 (Workstation Edition)"},
        {"NAME=\"Alpine Linux\"\n", "Alpine Linux"},
        {"PRETTY_NAME=\"Say \\\"hi\\\" \\\\ \\$HOME\"\n", "Say \"hi\" \\ $HOME"},
        {"PRETTY_NAME=\"\"\nNAME=Arch\n", "Arch"},
        {"  PRETTY_NAME = \"Odd spacing\"  \n", ""},
        {"ID=debian\n", ""},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(OsNameFromOsRelease(c.text), c.expected) << c.text;
    EXPECT_FALSE(OsNameText().empty());
}

TEST(MachineFacts, TextsHaveTheirFormsAndAreTrimmed) {
    struct BitsCase {
        const char* machine;
        const char* bits;
    };
    const BitsCase bits[] = {{"x86_64", "64"}, {"aarch64", "64"}, {"ppc64le", "64"},
                             {"s390x", "64"},  {"i686", "32"},    {"armv7l", "32"},
                             {"", "32"}};
    for (const auto& c : bits) EXPECT_EQ(OsBitsFromMachine(c.machine), c.bits) << c.machine;

    EXPECT_EQ(MemoryTextFromBytes(8ull << 30), "RAM: 8192 MB");
    EXPECT_EQ(MemoryTextFromBytes((1ull << 20) - 1), "RAM: 0 MB");
    EXPECT_EQ(MemoryTextFromBytes(64ull << 40), "RAM: 67108864 MB");

    EXPECT_EQ(CpuBrandFromCpuinfo("processor\t: 0\nvendor_id\t: GenuineIntel\n"
                                  "model name\t:   Intel(R) Core(TM) i5-4590 CPU @ 3.30GHz  \n"
                                  "processor\t: 1\nmodel name\t: second\n"),
              "Intel(R) Core(TM) i5-4590 CPU @ 3.30GHz");
    EXPECT_EQ(CpuBrandFromCpuinfo("processor : 0\nHardware : BCM2835\n"), "");

    const MachineFacts facts = GatherMachineFacts();
    EXPECT_TRUE(std::regex_match(facts.memory, std::regex("RAM: [1-9][0-9]* MB"))) << facts.memory;
    EXPECT_TRUE(facts.osBits == "64" || facts.osBits == "32") << facts.osBits;
    for (const std::string* text : {&facts.cpu, &facts.osName}) {
        EXPECT_FALSE(text->empty());
        EXPECT_EQ(*text, TrimWhitespace(*text));
    }
    EXPECT_EQ(OsText({"", "", "  Debian GNU/Linux 12 (bookworm) ", "64"}),
              "Debian GNU/Linux 12 (bookworm) 64");
}

// A /sys/class/net stand-in: each adapter a folder with "type", "address" and, for adapters
// with hardware behind them, a "device" entry.
class FakeSysNet {
  public:
    void add(const std::string& name, const std::string& type, const std::string& address,
             bool hasDevice) {
        const fs::path folder = fs::path(m_folder.path()) / name;
        fs::create_directories(folder);
        std::ofstream(folder / "type") << type << "\n";
        std::ofstream(folder / "address") << address << "\n";
        if (hasDevice) fs::create_directories(folder / "device");
    }
    std::string path() const { return m_folder.path(); }

  private:
    TempFolder m_folder;
};

TEST(PhysicalAdapterAddresses, PermanentAddressesOfPhysicalAdaptersInNameOrder) {
    FakeSysNet net;
    net.add("lo", "772", "00:00:00:00:00:00", true);
    net.add("wlp2s0", "1", "a4:5e:60:0d:1f:2b", true);
    net.add("enp3s0", "1", "02:00:00:00:00:99", true);  // current address changed by the user
    net.add("docker0", "1", "02:42:ac:11:00:01", false);
    net.add("veth12ab", "1", "de:ad:be:ef:00:01", false);
    net.add("usb0", "1", "00:00:00:00:00:00", true);
    net.add("eth9", "1", "not an address", true);
    const std::map<std::string, MacAddress> permanent = {
        {"enp3s0", {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}},
        {"lo", {0x11, 0x11, 0x11, 0x11, 0x11, 0x11}},
        {"usb0", {0, 0, 0, 0, 0, 0}},
    };
    const auto askDriver = [&permanent](const std::string& name) -> std::optional<MacAddress> {
        const auto it = permanent.find(name);
        if (it == permanent.end()) return std::nullopt;
        return it->second;
    };
    const auto addresses = PhysicalAdapterAddresses(net.path(), askDriver);
    EXPECT_EQ(JoinAdapterAddresses(addresses), "001A2B3C4D5E|A45E600D1F2B");

    EXPECT_TRUE(PhysicalAdapterAddresses(net.path() + "/missing", askDriver).empty());
    EXPECT_EQ(JoinAdapterAddresses({}), "");
    EXPECT_EQ(JoinAdapterAddresses({{0xFF, 0x0A, 0xB0, 0x00, 0x01, 0xC2}}), "FF0AB00001C2");
}

TEST(ResolveMachineIdentity, AdapterListOrTheSettingsIdWrittenOnce) {
    TempFolder folder;
    const std::string settingsPath = folder.file("RankSettings.ini");

    const MachineIdentity withAdapters =
        ResolveMachineIdentity("001A2B3C4D5E|A45E600D1F2B", settingsPath);
    EXPECT_EQ(withAdapters.raw, "001A2B3C4D5E|A45E600D1F2B");
    EXPECT_EQ(withAdapters.encoded, "001A2B3C4D5E%7CA45E600D1F2B");
    EXPECT_FALSE(fs::exists(settingsPath));  // nothing written when adapters name the machine

    const MachineIdentity first = ResolveMachineIdentity("", settingsPath);
    EXPECT_TRUE(first.raw.empty());
    EXPECT_TRUE(std::regex_match(first.encoded, std::regex("time_[0-9]{9,}"))) << first.encoded;
    EXPECT_EQ(RankSettings(settingsPath).readClientId(), first.encoded);
    // Later runs read the whole token back, not a prefix of it.
    const MachineIdentity second = ResolveMachineIdentity("", settingsPath);
    EXPECT_EQ(second.encoded, first.encoded);

    std::ofstream(settingsPath) << "[RankSettings]\nPageNum=3\nTime=time_1400000000\n";
    EXPECT_EQ(ResolveMachineIdentity("", settingsPath).encoded, "time_1400000000");
    EXPECT_EQ(RankSettings(settingsPath).readPageCount(5), 3);
}

}  // namespace
}  // namespace velquist
