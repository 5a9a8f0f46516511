// The settings reader on arbitrary file contents: the input is written as RankSettings.ini, then
// read, written and read again the way the program does at start and from "settings pages".
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/settings.h"
#include "fuzz_check.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kOversizedBytes = 2 * 1024 * 1024;

// Settings writes are synced to disk; in memory (tmpfs) that costs nothing, on a disk it would
// bring the harness down to a few runs a second. scripts/fuzz.sh hands over a folder it removes
// afterwards: fuzzing processes that crash or time out never run their exit handlers.
fs::path TempRoot() {
    if (const char* given = std::getenv("VELQUIST_FUZZ_TMP"); given && *given) return given;
    std::error_code ignored;
    if (fs::is_directory("/dev/shm", ignored) && ::access("/dev/shm", W_OK) == 0) return "/dev/shm";
    return fs::temp_directory_path();
}

// One private folder per fuzzing process, removed at exit.
const fs::path& Folder() {
    static const fs::path folder = [] {
        std::string pattern = (TempRoot() / "velquist-settings-fuzz-XXXXXX").string();
        FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr);
        std::atexit([] { std::error_code ignored; fs::remove_all(Folder(), ignored); });
        return fs::path(pattern);
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using velquist::RankSettings;
    const fs::path file = Folder() / "RankSettings.ini";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        // Now and then the file is blown up past any sane settings size with comment lines, so
        // the reader's size guard and the repair after it are fuzzed too.
        if (size % 64 == 63) {
            const std::string padding = "\n; padding\n";
            for (std::size_t written = size; written < kOversizedBytes; written += padding.size())
                out << padding;
        }
        FUZZ_CHECK(out.good());
    }
    const RankSettings settings(file.string());

    const int pages = settings.readPageCount(RankSettings::kDefaultPageCount);
    FUZZ_CHECK(pages >= 1 && pages <= 10);
    // Whatever was read is what a second read gives: a read that repairs must not change it.
    FUZZ_CHECK(settings.readPageCount(RankSettings::kDefaultPageCount) == pages);
    const std::string clientId = settings.readClientId();

    // Storing a page count keeps the client id and reads back as stored, whatever the file held.
    const int stored = 1 + static_cast<int>(size % 10);
    settings.writePageCount(stored);
    FUZZ_CHECK(settings.readPageCount(RankSettings::kDefaultPageCount) == stored);
    FUZZ_CHECK(settings.readClientId() == clientId);
    FUZZ_CHECK(fs::file_size(file) > 0);
    return 0;
}
