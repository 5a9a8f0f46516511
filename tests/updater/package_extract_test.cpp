// Unpacking an update package: every entry is checked before anything is written, and an
// entry that would leave the folder refuses the whole package.

#include "updater/package_extract.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "package_builder.h"
#include "temp_folder.h"

namespace velquist::updater {
namespace {

using velquist::testing::PackageBuilder;
using velquist::testing::TempFolder;
namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool IsEmptyFolder(const std::string& folder) { return fs::is_empty(folder); }

TEST(SafeEntryPath, KeepsEveryPathInsideTheFolder) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"Morvane", "Morvane"},
        {"skin/button.png", "skin/button.png"},
        {"skin/", "skin"},
        {"./skin//x.png", "skin/x.png"},
        {"skin\\x.png", "skin/x.png"},
        {"a..b/c..", "a..b/c.."},
        {"./", ""},
        {"/etc/passwd", std::nullopt},
        {"\\etc\\passwd", std::nullopt},
        {"C:/Windows/x", std::nullopt},
        {"c:x", std::nullopt},
        {"../x", std::nullopt},
        {"a/../../x", std::nullopt},
        {"a/../b", std::nullopt},
        {"..\\x", std::nullopt},
        {"..", std::nullopt},
    };
    for (const auto& [name, path] : cases) EXPECT_EQ(SafeEntryPath(name), path) << name;
}

TEST(ExtractPackage, WritesFilesAndFoldersAndKeepsTheExecutableBit) {
    TempFolder folder;
    const std::string package = folder.file("p.zip");
    ASSERT_TRUE(PackageBuilder()
                    .file("Morvane", "#!/bin/sh\n", 0755)
                    .folder("skin/")
                    .file("skin/button.png", "png bytes")
                    .file("sub/deeper/tool", "hello", 04755)
                    .file("empty.cfg", "")
                    .write(package));
    fs::create_directory(folder.file("out"));
    const ExtractResult result = ExtractPackage(package, folder.file("out"));
    ASSERT_TRUE(result.ok) << result.problem;
    EXPECT_EQ(result.files, 4);
    EXPECT_EQ(ReadFile(folder.file("out/skin/button.png")), "png bytes");
    EXPECT_EQ(ReadFile(folder.file("out/sub/deeper/tool")), "hello");
    EXPECT_TRUE(fs::is_regular_file(folder.file("out/empty.cfg")));
    EXPECT_EQ(fs::file_size(folder.file("out/empty.cfg")), 0u);
    const auto executable = fs::status(folder.file("out/Morvane")).permissions();
    EXPECT_NE(executable & fs::perms::owner_exec, fs::perms::none);
    const auto plain = fs::status(folder.file("out/skin/button.png")).permissions();
    EXPECT_EQ(plain & fs::perms::owner_exec, fs::perms::none);
    // Runnable, but never with the packer's rights.
    const auto tool = fs::status(folder.file("out/sub/deeper/tool")).permissions();
    EXPECT_NE(tool & fs::perms::owner_exec, fs::perms::none);
    EXPECT_EQ(tool & fs::perms::set_uid, fs::perms::none);
}

TEST(ExtractPackage, UnsafeOrUnreadablePackagesWriteNothing) {
    struct Case {
        const char* name;
        PackageBuilder package;
        const char* problem;
    };
    // Each package starts with a harmless file, so a refusal after writing would show.
    const auto harmless = [] { return PackageBuilder().file("a-first.txt", "harmless"); };
    const Case cases[] = {
        {"absolute", harmless().file("/tmp/velquist-evil", "x"), "outside the folder"},
        {"parent", harmless().file("../evil", "x"), "outside the folder"},
        {"parent inside", harmless().file("skin/../../evil", "x"), "outside the folder"},
        {"backslash parent", harmless().file("..\\evil", "x"), "outside the folder"},
        {"link", harmless().link("skin", "/etc"), "symbolic link"},
        {"link to a file", harmless().link("Morvane", "/bin/sh"), "symbolic link"},
        {"same path twice", harmless().file("skin/x.png", "1").file("skin\\x.png", "2"),
         "more than once"},
        {"file and folder", harmless().file("skin", "a file").file("skin/x.png", "1"),
         "both a file and a folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const std::string package = folder.file("p.zip");
        ASSERT_TRUE(c.package.write(package));
        fs::create_directory(folder.file("out"));
        const ExtractResult result = ExtractPackage(package, folder.file("out"));
        EXPECT_FALSE(result.ok);
        EXPECT_NE(result.problem.find(c.problem), std::string::npos) << result.problem;
        EXPECT_TRUE(IsEmptyFolder(folder.file("out")));
    }
    EXPECT_FALSE(fs::exists("/tmp/velquist-evil"));
}

TEST(ExtractPackage, ADamagedOrMissingPackageFails) {
    TempFolder folder;
    const std::string package = folder.file("p.zip");
    ASSERT_TRUE(PackageBuilder()
                    .file("a.txt", "first file")
                    .file("b.bin", "SECOND-FILE-CONTENT-THAT-GETS-SPOILED")
                    .write(package));
    // The stored bytes change under their checksum.
    ASSERT_TRUE(velquist::testing::SpoilBytes(package, "GETS-SPOILED", "GETS-SPOILEX"));
    fs::create_directory(folder.file("out"));
    const ExtractResult damaged = ExtractPackage(package, folder.file("out"));
    EXPECT_FALSE(damaged.ok);
    EXPECT_NE(damaged.problem.find("damaged"), std::string::npos) << damaged.problem;

    std::ofstream(folder.file("text.zip")) << "not a zip archive";
    for (const std::string& path : {folder.file("text.zip"), folder.file("missing.zip")}) {
        const ExtractResult result = ExtractPackage(path, folder.file("out"));
        EXPECT_FALSE(result.ok) << path;
        EXPECT_NE(result.problem.find("not a readable zip archive"), std::string::npos)
            << result.problem;
    }
}

}  // namespace
}  // namespace velquist::updater
