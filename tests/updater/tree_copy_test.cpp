// The copy of an unpacked package over the program folder, and the clean-up of its leftovers.

#include "updater/tree_copy.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "temp_folder.h"

namespace velquist::updater {
namespace {

using velquist::testing::TempFolder;
namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

class TreeCopyTest : public ::testing::Test {
  protected:
    std::string source(const std::string& name) const { return m_source.file(name); }
    std::string program(const std::string& name) const { return m_program.file(name); }
    std::string marker() const { return m_data.file("del.txt"); }

    CopyReport copy() {
        CopyReport report;
        CopyTree(m_source.path(), m_program.path(), marker(), report);
        return report;
    }

    TempFolder m_source;
    TempFolder m_program;
    TempFolder m_data;
};

TEST_F(TreeCopyTest, ReplacesProgramFilesButNeverDatabases) {
    Write(program("Morvane"), "old program");
    Write(program("main_360.db"), "the user's database");
    Write(program("database/main_360.db"), "the user's other database");
    Write(program("skin/keep.png"), "not in the package");

    Write(source("Morvane"), "new program");
    Write(source("main_360.db"), "an empty database from the packer");
    Write(source("database/main_360.db"), "another");
    Write(source("database/MAIN.DB"), "upper case is a database too");
    Write(source("Thumbs.db"), "picture cache");
    Write(source("skin/new.png"), "new image");
    Write(source("a/b/c/deep.txt"), "deep");

    const CopyReport report = copy();
    EXPECT_EQ(report.moved, 3);
    EXPECT_EQ(report.skipped.size(), 3u);
    EXPECT_TRUE(report.failed.empty());
    EXPECT_EQ(ReadFile(program("Morvane")), "new program");
    EXPECT_EQ(ReadFile(program("main_360.db")), "the user's database");
    EXPECT_EQ(ReadFile(program("database/main_360.db")), "the user's other database");
    EXPECT_FALSE(fs::exists(program("database/MAIN.DB")));
    EXPECT_FALSE(fs::exists(program("Thumbs.db")));
    EXPECT_EQ(ReadFile(program("skin/new.png")), "new image");
    EXPECT_EQ(ReadFile(program("skin/keep.png")), "not in the package");
    EXPECT_EQ(ReadFile(program("a/b/c/deep.txt")), "deep");
    EXPECT_FALSE(fs::exists(marker()));
}

TEST_F(TreeCopyTest, AnEmptyFileBecomesAFolder) {
    Write(source("plugins"), "");
    Write(source("logs/empty.log"), "");
    Write(program("existing"), "a file of the user");
    Write(source("existing"), "");
    copy();
    EXPECT_TRUE(fs::is_directory(program("plugins")));
    EXPECT_TRUE(fs::is_empty(program("plugins")));
    EXPECT_TRUE(fs::is_directory(program("logs/empty.log")));
    // Where a file stands already, nothing is made and nothing is lost.
    EXPECT_EQ(ReadFile(program("existing")), "a file of the user");
}

TEST_F(TreeCopyTest, AFileThatCannotBeDeletedIsSetAsideForTheNextStart) {
    // A folder with things in it cannot be deleted like a file.
    Write(program("lib/inside.so"), "old library");
    Write(program("lib.utmp"), "leftover of an earlier install");
    Write(source("lib"), "the new library file");
    const CopyReport report = copy();
    EXPECT_EQ(report.keptAside, 1);
    EXPECT_EQ(ReadFile(program("lib")), "the new library file");
    EXPECT_EQ(ReadFile(program("lib.utmp/inside.so")), "old library");
    EXPECT_TRUE(fs::exists(marker()));

    // The clean-up run of the next start.
    Write(program("skin/old.png.utmp"), "another leftover");
    Write(program("skin/button.png"), "kept");
    EXPECT_EQ(RemoveLeftovers(m_program.path()), 2);
    EXPECT_FALSE(fs::exists(program("lib.utmp")));
    EXPECT_FALSE(fs::exists(program("skin/old.png.utmp")));
    EXPECT_EQ(ReadFile(program("lib")), "the new library file");
    EXPECT_EQ(ReadFile(program("skin/button.png")), "kept");
}

TEST_F(TreeCopyTest, LeftoversAreNotLookedForBehindLinks) {
    TempFolder outside;
    Write(outside.file("notes.utmp"), "not ours");
    fs::create_directory_symlink(outside.path(), program("linked"));
    EXPECT_EQ(RemoveLeftovers(m_program.path()), 0);
    EXPECT_TRUE(fs::exists(outside.file("notes.utmp")));
}

TEST_F(TreeCopyTest, EmptyFolderKeepsTheFolderItself) {
    Write(source("a/b.txt"), "x");
    Write(source("c.txt"), "y");
    EXPECT_TRUE(EmptyFolder(m_source.path()));
    EXPECT_TRUE(fs::is_directory(m_source.path()));
    EXPECT_TRUE(fs::is_empty(m_source.path()));
}

}  // namespace
}  // namespace velquist::updater
