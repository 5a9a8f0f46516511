#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velquist {

// What the reports and the feedback tell the vendor about the computer. Every text degrades
// to empty or a placeholder; gathering never fails.
struct MachineFacts {
    std::string cpu;     // processor brand, trimmed
    std::string memory;  // "RAM: %d MB"
    std::string osName;  // e.g. "Debian GNU/Linux 12 (bookworm)"
    std::string osBits;  // "64" or "32"
};

// The OS text as the services receive it: the trimmed name, one space, the bits.
std::string OsText(const MachineFacts& facts);

MachineFacts GatherMachineFacts();

// Processor brand from the CPU itself (the three brand-string leaves), else the first
// "model name" of /proc/cpuinfo; "" when neither says anything.
std::string CpuText();
// The "model name" value of a /proc/cpuinfo text, trimmed; "" when there is none.
std::string CpuBrandFromCpuinfo(std::string_view cpuinfo);

// "RAM: N MB" with N the total physical memory in MB; "RAM: 0 MB" when unknown.
std::string MemoryText();
std::string MemoryTextFromBytes(std::uint64_t totalBytes);

// The distribution's name from /etc/os-release (else /usr/lib/os-release), else the kernel's
// system name.
std::string OsNameText();
// PRETTY_NAME of an os-release text, else NAME and VERSION joined by a space; shell quoting
// and its backslash escapes undone. "" when neither is there.
std::string OsNameFromOsRelease(std::string_view osRelease);

std::string OsBitsText();
// "64" for a 64-bit machine name as uname gives it (x86_64, aarch64, ...), else "32".
std::string OsBitsFromMachine(std::string_view machine);

// What GetVersionExW and friends report on Windows; only for the name table below.
struct WindowsVersion {
    bool available = true;  // false: the version could not be read
    unsigned major = 0;
    unsigned minor = 0;
    unsigned platformId = 2;             // 1: Windows 9x, 2: NT
    unsigned productType = 1;            // 1: workstation
    unsigned processorArchitecture = 0;  // 9: AMD64, 6: IA64
    bool serverR2 = false;               // GetSystemMetrics(SM_SERVERR2) != 0
    std::string servicePack;             // szCSDVersion, UTF-8
};

// The Windows OS name text: the name of the version table, one space, the service-pack text;
// "" when the version could not be read. Kept so reports from either platform read alike.
std::string WindowsOsNameText(const WindowsVersion& version);

using MacAddress = std::array<std::uint8_t, 6>;

// Permanent hardware addresses of the physical network adapters, in the order of their names.
// Loopback and virtual devices (no "device" link under sysfs) are skipped, and so are
// all-zero addresses. `permanentAddress` asks the driver (ETHTOOL_GPERMADDR); when it gives
// nothing the adapter's current "address" file is read instead.
std::vector<MacAddress> PhysicalAdapterAddresses(
    const std::string& sysClassNet = "/sys/class/net",
    const std::function<std::optional<MacAddress>(const std::string& name)>& permanentAddress =
        nullptr);

// The driver's permanent address of one interface; nullopt when it does not say.
std::optional<MacAddress> PermanentAddressOf(const std::string& interfaceName);

// "%02X%02X%02X%02X%02X%02X" of each address, joined with "|".
std::string JoinAdapterAddresses(const std::vector<MacAddress>& addresses);

// The identity the services know this computer by: the raw address list and its form-encoded
// copy. Without any adapter address the raw list stays empty and the encoded copy is the client
// id of RankSettings.ini ("time_<seconds>", written there the first time).
struct MachineIdentity {
    std::string raw;
    std::string encoded;
};

MachineIdentity ResolveMachineIdentity(const std::string& rawAddresses,
                                       const std::string& settingsPath);

// ResolveMachineIdentity over this computer's adapters, computed on the first call and kept
// for the life of the process. Any thread.
MachineIdentity ProcessMachineIdentity(const std::string& settingsPath);

}  // namespace velquist
