#include "core/settings.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "core/text.h"
#include "temp_folder.h"

namespace velquist {
namespace {

using namespace std::string_literals;
using testing::TempFolder;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

std::size_t CountNoCase(const std::string& text, const std::string& part) {
    std::string folded = text;
    for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::size_t count = 0;
    for (auto at = folded.find(part); at != std::string::npos; at = folded.find(part, at + 1))
        ++count;
    return count;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

TEST(RankSettings, PageCountRules) {
    // Comment lines past the size limit, with a valid count at the start.
    std::string huge = "[RankSettings]\nPageNum=3\n";
    while (huge.size() <= RankSettings::kMaxFileBytes) huge += "; padding padding padding\n";
    struct Case {
        const char* name;
        std::string content;  // file content, or "<none>" for no file
        int expected;
        bool rewritten;  // the current count is written back
    };
    const Case cases[] = {
        {"missing file", "<none>", 5, false},
        {"ten", "[RankSettings]\nPageNum=10\n", 10, false},
        {"one", "[RankSettings]\nPageNum=1\n", 1, false},
        {"zero", "[RankSettings]\nPageNum=0\n", 5, true},
        {"eleven", "[RankSettings]\nPageNum=11\n", 5, true},
        {"not a number", "[RankSettings]\nPageNum=abc\n", 5, true},
        {"missing section", "PageNum=7\n", 5, false},
        {"other section", "[Other]\nPageNum=7\n", 5, false},
        {"binary bytes", "\x01\xff\xfe\x00garbage\n[RankSettings]\nPageNum=3\n\x80\x81"s, 3, false},
        {"crlf lines", "[RankSettings]\r\nPageNum=8\r\n", 8, false},
        {"repeated key, first wins", "[RankSettings]\nPageNum=2\nPageNum=9\n", 2, false},
        {"key in lower case", "[RankSettings]\npagenum=8\n", 8, false},
        {"section in other case", "[RANKSETTINGS]\nPAGENUM=4\n", 4, false},
        {"repeated key in other case, first wins", "[RankSettings]\npagenum=2\nPageNum=9\n", 2,
         false},
        {"over the size limit reads as damaged", huge, 5, false},
    };
    for (const auto& c : cases) {
        TempFolder dir;
        const auto path = dir.file("RankSettings.ini");
        if (c.content != "<none>") WriteFile(path, c.content);
        RankSettings settings(path);
        EXPECT_EQ(settings.readPageCount(5), c.expected) << c.name;
        if (c.rewritten) {
            // Repaired: a second read finds the written count, and the file parses cleanly.
            EXPECT_NE(ReadFile(path).find("PageNum=5"), std::string::npos) << c.name;
            EXPECT_EQ(settings.readPageCount(7), 5) << c.name;
        }
    }
}

TEST(RankSettings, DamagedFileIsRepairedOnWriteAndKeepsWhatCouldBeRead) {
    TempFolder dir;
    const auto path = dir.file("RankSettings.ini");
    WriteFile(path,
              "\xde\xad\xbe\xef\n[RankSettings]\nTime=time_1700000000\n"
              "PageNum=zz\nno equals sign here\n"s);
    RankSettings settings(path);
    EXPECT_EQ(settings.readPageCount(5), 5);
    const std::string repaired = ReadFile(path);
    EXPECT_EQ(repaired.find("\xde\xad"), std::string::npos);
    EXPECT_NE(repaired.find("PageNum=5"), std::string::npos);
    EXPECT_EQ(settings.readClientId(), "time_1700000000");
}

TEST(RankSettings, ClientIdIsWrittenOnceAndReadBackWhole) {
    TempFolder dir;
    RankSettings settings(dir.file("RankSettings.ini"));
    EXPECT_EQ(settings.readClientId(), "");
    const auto written = settings.writeClientId();
    EXPECT_TRUE(written.stored);
    ASSERT_EQ(written.id.size(), 15u);  // "time_" and ten digits
    EXPECT_EQ(written.id.rfind("time_", 0), 0u);
    EXPECT_EQ(settings.readClientId(), written.id);
    EXPECT_TRUE(settings.writePageCount(10));
    EXPECT_EQ(settings.readClientId(), written.id);  // writing one key keeps the other
    EXPECT_EQ(settings.readPageCount(5), 10);
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"RankSettings.ini"});
}

TEST(RankSettings, WriteKeepsTheSpellingFoundAndOneKey) {
    TempFolder dir;
    const auto path = dir.file("RankSettings.ini");
    WriteFile(path, "[ranksettings]\npagenum=8\ntime=time_1700000000\n");
    RankSettings settings(path);
    ASSERT_TRUE(settings.writePageCount(3));
    const std::string written = ReadFile(path);
    EXPECT_EQ(CountNoCase(written, "[ranksettings]"), 1u) << written;
    EXPECT_EQ(CountNoCase(written, "pagenum"), 1u) << written;
    EXPECT_EQ(CountNoCase(written, "time="), 1u) << written;
    EXPECT_EQ(settings.readPageCount(5), 3);
    EXPECT_EQ(settings.readClientId(), "time_1700000000");
}

// Runs `write` in a child process whose files may grow to at most `maxBytes`, as on a full disk;
// true when the child's write reported success.
bool WriteWithFileSizeLimit(const RankSettings& settings, rlim_t maxBytes) {
    const pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails instead of killing
        const rlimit limit{maxBytes, maxBytes};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(settings.writePageCount(9) ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(RankSettings, FailedWriteLeavesThePreviousFile) {
    const std::string old = "[RankSettings]\nPageNum=4\nTime=time_1700000000\n";
    TempFolder dir;
    const auto path = dir.file("RankSettings.ini");

    WriteFile(path, old);
    EXPECT_FALSE(WriteWithFileSizeLimit(RankSettings(path), 8)) << "disk full";
    EXPECT_EQ(ReadFile(path), old);
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"RankSettings.ini"});

    const auto blocked = dir.file("blocked");
    std::filesystem::create_directories(blocked + "/RankSettings.ini");
    EXPECT_FALSE(RankSettings(blocked + "/RankSettings.ini").writePageCount(3)) << "a folder";
    EXPECT_TRUE(std::filesystem::is_directory(blocked + "/RankSettings.ini"));
    EXPECT_EQ(FolderEntries(blocked), std::vector<std::string>{"RankSettings.ini"});

    EXPECT_FALSE(RankSettings(dir.file("missing/RankSettings.ini")).writePageCount(3));
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
}

TEST(RankSettings, KillMidWriteNeverLosesTheClientId) {
    TempFolder dir;
    const auto path = dir.file("RankSettings.ini");
    WriteFile(path, "[RankSettings]\nPageNum=5\nTime=time_1700000000\n");
    const RankSettings settings(path);
    std::mt19937 random(20240611);
    for (int round = 0; round < 40; ++round) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0)
            for (int i = 0;; ++i) settings.writePageCount(i % 10 + 1);
        usleep(200 + random() % 3000);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        ASSERT_EQ(settings.readClientId(), "time_1700000000") << "round " << round;
        const int pages = settings.readPageCount(0);
        ASSERT_TRUE(pages >= 1 && pages <= 10) << "round " << round;
    }
}

}  // namespace
}  // namespace velquist
