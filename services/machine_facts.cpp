#include "services/machine_facts.h"

#include <cpuid.h>
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "core/settings.h"
#include "core/text.h"
#include "services/unique_fd.h"

namespace velquist {

namespace {

std::string ReadSmallFile(const std::string& path, std::size_t limit = 64 * 1024) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::string text(limit, '\0');
    in.read(text.data(), static_cast<std::streamsize>(limit));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

// One value of an os-release line: double quotes allow \" \\ \$ \` escapes, single quotes are
// literal, and an unquoted value is taken as it stands.
std::string UnquoteShellValue(std::string_view value) {
    if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'')
        return std::string(value.substr(1, value.size() - 2));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        const std::string_view inner = value.substr(1, value.size() - 2);
        std::string out;
        for (std::size_t i = 0; i < inner.size(); ++i) {
            if (inner[i] == '\\' && i + 1 < inner.size() &&
                std::string_view("\"\\$`").find(inner[i + 1]) != std::string_view::npos) {
                ++i;
            }
            out.push_back(inner[i]);
        }
        return out;
    }
    return std::string(value);
}

std::optional<MacAddress> ParseMacText(std::string_view text) {
    const std::string trimmed = TrimWhitespace(text);
    if (trimmed.size() != 17) return std::nullopt;
    MacAddress address{};
    for (std::size_t i = 0; i < address.size(); ++i) {
        if (i > 0 && trimmed[i * 3 - 1] != ':') return std::nullopt;
        unsigned value = 0;
        for (std::size_t j = 0; j < 2; ++j) {
            const char c = trimmed[i * 3 + j];
            value <<= 4;
            if (c >= '0' && c <= '9') {
                value |= static_cast<unsigned>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                value |= static_cast<unsigned>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                value |= static_cast<unsigned>(c - 'A' + 10);
            } else {
                return std::nullopt;
            }
        }
        address[i] = static_cast<std::uint8_t>(value);
    }
    return address;
}

bool IsZero(const MacAddress& address) {
    return std::all_of(address.begin(), address.end(), [](std::uint8_t b) { return b == 0; });
}

}  // namespace

std::string OsText(const MachineFacts& facts) {
    return TrimWhitespace(facts.osName) + " " + facts.osBits;
}

MachineFacts GatherMachineFacts() {
    MachineFacts facts;
    facts.cpu = TrimWhitespace(CpuText());
    facts.memory = TrimWhitespace(MemoryText());
    facts.osName = TrimWhitespace(OsNameText());
    facts.osBits = TrimWhitespace(OsBitsText());
    return facts;
}

std::string CpuText() {
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(0x80000000u, &eax, &ebx, &ecx, &edx) && eax >= 0x80000004u) {
        char brand[49] = {};
        for (unsigned int leaf = 0; leaf < 3; ++leaf) {
            unsigned int regs[4] = {};
            __get_cpuid(0x80000002u + leaf, &regs[0], &regs[1], &regs[2], &regs[3]);
            std::memcpy(brand + leaf * 16, regs, sizeof regs);
        }
        const std::string text = TrimWhitespace(std::string(brand, ::strnlen(brand, 48)));
        if (!text.empty()) return text;
    }
    return CpuBrandFromCpuinfo(ReadSmallFile("/proc/cpuinfo", 1024 * 1024));
}

std::string CpuBrandFromCpuinfo(std::string_view cpuinfo) {
    std::istringstream in{std::string(cpuinfo)};
    std::string line;
    while (std::getline(in, line)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        if (TrimWhitespace(line.substr(0, colon)) == "model name")
            return TrimWhitespace(line.substr(colon + 1));
    }
    return {};
}

std::string MemoryText() {
    struct sysinfo info {};
    if (::sysinfo(&info) != 0) return MemoryTextFromBytes(0);
    return MemoryTextFromBytes(static_cast<std::uint64_t>(info.totalram) * info.mem_unit);
}

std::string MemoryTextFromBytes(std::uint64_t totalBytes) {
    return "RAM: " + std::to_string(totalBytes >> 20) + " MB";
}

std::string OsNameText() {
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        const std::string name = OsNameFromOsRelease(ReadSmallFile(path));
        if (!name.empty()) return name;
    }
    struct utsname names {};
    if (::uname(&names) == 0) return names.sysname;
    return {};
}

std::string OsNameFromOsRelease(std::string_view osRelease) {
    std::string prettyName, name, version;
    std::istringstream in{std::string(osRelease)};
    std::string line;
    while (std::getline(in, line)) {
        const std::string trimmed = TrimWhitespace(line);
        if (trimmed.empty() || trimmed[0] == '#') continue;
        const auto eq = trimmed.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = trimmed.substr(0, eq);
        const std::string value = TrimWhitespace(UnquoteShellValue(trimmed.substr(eq + 1)));
        if (key == "PRETTY_NAME") prettyName = value;
        if (key == "NAME") name = value;
        if (key == "VERSION") version = value;
    }
    if (!prettyName.empty()) return prettyName;
    if (name.empty()) return {};
    return version.empty() ? name : name + " " + version;
}

std::string OsBitsText() {
    struct utsname names {};
    if (::uname(&names) != 0) return OsBitsFromMachine(sizeof(void*) == 8 ? "x86_64" : "i686");
    return OsBitsFromMachine(names.machine);
}

std::string OsBitsFromMachine(std::string_view machine) {
    static constexpr std::string_view k64[] = {"x86_64",  "amd64",   "aarch64", "arm64",
                                               "ia64",    "ppc64",   "ppc64le", "s390x",
                                               "sparc64", "riscv64", "mips64",  "loongarch64"};
    return std::find(std::begin(k64), std::end(k64), machine) != std::end(k64) ? "64" : "32";
}

std::string WindowsOsNameText(const WindowsVersion& v) {
    if (!v.available) return {};
    constexpr unsigned kWorkstation = 1;
    constexpr unsigned kAmd64 = 9;
    std::string name;
    if (v.major == 4) {
        if (v.minor == 0 && v.platformId == 2) name = "Microsoft Windows NT 4.0";
        if (v.minor == 0 && v.platformId == 1) name = "Microsoft Windows 95";
        if (v.minor == 10) name = "Microsoft Windows 98";
        if (v.minor == 90) name = "Microsoft Windows Me";
    } else if (v.major == 5) {
        if (v.minor == 0) name = "Microsoft Windows 2000";
        if (v.minor == 1) name = "Microsoft Windows XP";
        if (v.minor == 2) {
            if (v.productType == kWorkstation && v.processorArchitecture == kAmd64)
                name = "Microsoft Windows XP Professional x64 Edition";
            else if (!v.serverR2)
                name = "Microsoft Windows Server 2003";
            else
                name = "Microsoft Windows Server 2003 R2";
        }
    } else if (v.major == 6) {
        const bool workstation = v.productType == kWorkstation;
        if (v.minor == 0)
            name = workstation ? "Microsoft Windows Vista" : "Microsoft Windows Server 2008";
        if (v.minor == 1)
            name = workstation ? "Microsoft Windows 7" : "Microsoft Windows Server 2008 R2";
        if (v.minor == 2) name = "Microsoft Windows 8";
    } else {
        name = "未知操作系统";
    }
    return name + " " + v.servicePack;
}

std::optional<MacAddress> PermanentAddressOf(const std::string& interfaceName) {
    if (interfaceName.empty() || interfaceName.size() >= IFNAMSIZ) return std::nullopt;
    const UniqueFd socketFd = AdoptFd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socketFd) return std::nullopt;
    // struct ethtool_perm_addr ends in a flexible array; room for any hardware address.
    constexpr std::uint32_t kMaxAddressBytes = 32;
    alignas(
        ethtool_perm_addr) unsigned char buffer[sizeof(ethtool_perm_addr) + kMaxAddressBytes] = {};
    auto* request = reinterpret_cast<ethtool_perm_addr*>(buffer);
    request->cmd = ETHTOOL_GPERMADDR;
    request->size = kMaxAddressBytes;
    ifreq interfaceRequest{};
    std::memcpy(interfaceRequest.ifr_name, interfaceName.c_str(), interfaceName.size());
    interfaceRequest.ifr_data = reinterpret_cast<char*>(buffer);
    if (::ioctl(socketFd.get().fd, SIOCETHTOOL, &interfaceRequest) != 0) return std::nullopt;
    if (request->size < 6) return std::nullopt;
    MacAddress address{};
    std::memcpy(address.data(), request->data, address.size());
    return address;
}

std::vector<MacAddress> PhysicalAdapterAddresses(
    const std::string& sysClassNet,
    const std::function<std::optional<MacAddress>(const std::string& name)>& permanentAddress) {
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(sysClassNet, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());

    constexpr unsigned kLoopbackType = 772;  // ARPHRD_LOOPBACK
    std::vector<MacAddress> addresses;
    for (const auto& name : names) {
        const std::string folder = sysClassNet + "/" + name;
        if (TrimWhitespace(ReadSmallFile(folder + "/type", 64)) == std::to_string(kLoopbackType))
            continue;
        // Bridges, veth pairs, tunnels and the like have no device behind them.
        if (!fs::exists(folder + "/device", ec)) continue;
        std::optional<MacAddress> address =
            permanentAddress ? permanentAddress(name) : PermanentAddressOf(name);
        if (!address || IsZero(*address))
            address = ParseMacText(ReadSmallFile(folder + "/address", 256));
        if (address && !IsZero(*address)) addresses.push_back(*address);
    }
    return addresses;
}

std::string JoinAdapterAddresses(const std::vector<MacAddress>& addresses) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string joined;
    for (const auto& address : addresses) {
        if (!joined.empty()) joined.push_back('|');
        for (const std::uint8_t byte : address) {
            joined.push_back(kHex[byte >> 4]);
            joined.push_back(kHex[byte & 0x0F]);
        }
    }
    return joined;
}

MachineIdentity ResolveMachineIdentity(const std::string& rawAddresses,
                                       const std::string& settingsPath) {
    MachineIdentity identity;
    identity.raw = rawAddresses;
    if (!rawAddresses.empty()) {
        identity.encoded = UrlEncodeForm(rawAddresses);
        return identity;
    }
    // Read back whole: a token cut short would name another computer from the second run on.
    const RankSettings settings(settingsPath);
    identity.encoded = settings.readClientId();
    if (identity.encoded.empty()) identity.encoded = settings.writeClientId().id;
    return identity;
}

MachineIdentity ProcessMachineIdentity(const std::string& settingsPath) {
    static std::once_flag once;
    static MachineIdentity identity;
    std::call_once(once, [&settingsPath] {
        identity =
            ResolveMachineIdentity(JoinAdapterAddresses(PhysicalAdapterAddresses()), settingsPath);
    });
    return identity;
}

}  // namespace velquist
