#include "core/paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <vector>

#include "core/host_config.h"
#include "temp_folder.h"

namespace velquist {
namespace {

using testing::TempFolder;

// Sets environment variables for one test and puts the old values back.
class EnvGuard {
  public:
    void set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~EnvGuard() {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            if (it->second)
                setenv(it->first.c_str(), it->second->c_str(), 1);
            else
                unsetenv(it->first.c_str());
        }
    }

  private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

TEST(Paths, DataFolderFollowsDocumentsFolder) {
    TempFolder dir;
    EnvGuard env;
    env.set("HOME", dir.path().c_str());
    env.set("XDG_CONFIG_HOME", nullptr);
    const AppPaths plain = ResolvePaths();
    EXPECT_EQ(plain.dataFolder, dir.path() + "/Documents/Velquist");
    EXPECT_EQ(plain.settingsPath, plain.dataFolder + "/RankSettings.ini");
    EXPECT_EQ(plain.databasePath, plain.dataFolder + "/database/main_360.db");

    std::filesystem::create_directories(dir.file(".config"));
    std::ofstream(dir.file(".config/user-dirs.dirs")) << "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n";
    EXPECT_EQ(ResolvePaths().dataFolder, dir.path() + "/Dokumente/Velquist");
}

TEST(Paths, NoHomeMeansProgramFolderAndOverrideWins) {
    EnvGuard env;
    env.set("HOME", nullptr);
    env.set("XDG_CONFIG_HOME", nullptr);
    const AppPaths paths = ResolvePaths();
    EXPECT_EQ(paths.dataFolder, paths.programFolder);
    EXPECT_EQ(ResolvePaths(std::string("/tmp/elsewhere")).databasePath,
              "/tmp/elsewhere/database/main_360.db");
}

TEST(Paths, NoHomeNeverMakesAFolderAtTheRoot) {
    TempFolder config;
    struct Case {
        const char* name;
        const char* home;      // nullptr: unset
        const char* userDirs;  // the XDG_DOCUMENTS_DIR line of user-dirs.dirs
        const char* expected;  // nullptr: the program folder
    };
    const Case cases[] = {
        {"unset home, documents under home", nullptr, "XDG_DOCUMENTS_DIR=\"$HOME/Documents\"",
         nullptr},
        {"empty home, documents under home", "", "XDG_DOCUMENTS_DIR=\"$HOME/Documents\"", nullptr},
        {"empty home, home as documents", "", "XDG_DOCUMENTS_DIR=\"$HOME\"", nullptr},
        {"empty home, no user-dirs line", "", "", nullptr},
        {"unset home, absolute documents folder", nullptr, "XDG_DOCUMENTS_DIR=\"/srv/docs\"",
         "/srv/docs/Velquist"},
    };
    for (const auto& c : cases) {
        std::ofstream(config.file("user-dirs.dirs"), std::ios::trunc) << c.userDirs << "\n";
        EnvGuard env;
        env.set("HOME", c.home);
        env.set("XDG_CONFIG_HOME", config.path().c_str());
        const AppPaths paths = ResolvePaths();
        EXPECT_EQ(paths.dataFolder, c.expected ? std::string(c.expected) : paths.programFolder)
            << c.name;
        EXPECT_EQ(paths.dataFolder.rfind("/Documents", 0), std::string::npos) << c.name;
    }
}

TEST(HostConfig, TimeoutIsAWholeNumberOfSecondsInRange) {
    struct Case {
        const char* text;
        std::optional<int> seconds;
    };
    const Case cases[] = {
        {"1", 1},
        {"120", 120},
        {"3600", 3600},
        {"0", std::nullopt},
        {"3601", std::nullopt},
        {"-5", std::nullopt},
        {"+5", std::nullopt},
        {"5abc", std::nullopt},
        {"5 ", std::nullopt},
        {"", std::nullopt},
        {"99999999999", std::nullopt},
        {"4294967301", std::nullopt},  // wraps to 5 in 32 bits
    };
    for (const auto& c : cases) EXPECT_EQ(ParseHttpTimeout(c.text), c.seconds) << c.text;
}

TEST(HostConfig, FileThenEnvironmentOverride) {
    TempFolder dir;
    EnvGuard env;
    env.set("VELQUIST_SEARCH_HOST", nullptr);
    env.set("VELQUIST_HTTP_TIMEOUT", nullptr);
    std::ofstream(dir.file("velquist.ini")) << "[hosts]\nsearch_host=127.0.0.1:9443\n"
                                               "ua_host=127.0.0.1:9000\nhttp_timeout=5\n";
    HostConfig fromFile = HostConfig::Load(dir.path(), dir.path());
    EXPECT_EQ(fromFile.searchHost, "127.0.0.1:9443");
    EXPECT_EQ(fromFile.uaHost, "127.0.0.1:9000");
    EXPECT_EQ(fromFile.httpTimeoutSeconds, 5);
    EXPECT_EQ(fromFile.searchDomain, "so.com");

    env.set("VELQUIST_SEARCH_HOST", "127.0.0.1:1234");
    env.set("VELQUIST_HTTP_TIMEOUT", "junk");
    HostConfig fromEnv = HostConfig::Load(dir.path(), dir.path());
    EXPECT_EQ(fromEnv.searchHost, "127.0.0.1:1234");
    EXPECT_EQ(fromEnv.httpTimeoutSeconds, 5);  // a non-number changes nothing
    for (const char* unusable : {"7abc", "99999999999", "0"}) {
        env.set("VELQUIST_HTTP_TIMEOUT", unusable);
        EXPECT_EQ(HostConfig::Load(dir.path(), dir.path()).httpTimeoutSeconds, 5) << unusable;
    }

    EXPECT_EQ(ServiceBaseUrl("127.0.0.1:9000"), "http://127.0.0.1:9000");
    EXPECT_EQ(ServiceBaseUrl("https://x.test"), "https://x.test");
    EXPECT_EQ(ServiceBaseUrl("https://x.test//"), "https://x.test");
    EXPECT_EQ(ServiceBaseUrl("127.0.0.1:9000/"), "http://127.0.0.1:9000");
}

}  // namespace
}  // namespace velquist
