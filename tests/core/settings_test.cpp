#include "core/settings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "core/text.h"
#include "temp_folder.h"

namespace velquist {
namespace {

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

TEST(RankSettings, PageCountRules) {
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
        {"binary bytes",
         std::string("\x01\xff\xfe\x00garbage\n[RankSettings]\nPageNum=3\n\x80\x81", 36), 3, false},
        {"crlf lines", "[RankSettings]\r\nPageNum=8\r\n", 8, false},
        {"repeated key, first wins", "[RankSettings]\nPageNum=2\nPageNum=9\n", 2, false},
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
    WriteFile(path, std::string("\xde\xad\xbe\xef\n[RankSettings]\nTime=time_1700000000\n"
                                "PageNum=zz\nno equals sign here\n",
                                74));
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
    const std::string id = settings.writeClientId();
    ASSERT_EQ(id.size(), 15u);  // "time_" and ten digits
    EXPECT_EQ(id.rfind("time_", 0), 0u);
    EXPECT_EQ(settings.readClientId(), id);
    settings.writePageCount(10);
    EXPECT_EQ(settings.readClientId(), id);  // writing one key keeps the other
    EXPECT_EQ(settings.readPageCount(5), 10);
}

}  // namespace
}  // namespace velquist
