#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "core/schema.h"
#include "core/user_notifier.h"
#include "engine/scan_environment.h"
#include "temp_folder.h"
#include "tools/search_standin/search_standin.h"

namespace velquist::testing {

// Records every wait instead of sleeping.
class RecordingSleeper {
  public:
    Sleeper sleeper() {
        return [this](std::chrono::milliseconds d) {
            std::lock_guard lock(m_mutex);
            m_waits.push_back(d.count());
        };
    }
    std::vector<long long> waits() const {
        std::lock_guard lock(m_mutex);
        return m_waits;
    }

  private:
    mutable std::mutex m_mutex;
    std::vector<long long> m_waits;
};

// A stand-in search engine on 127.0.0.1 with the given world, stopped at the end of the test.
class StandinFixture {
  public:
    explicit StandinFixture(const std::string& worldJson, int lifetimeSeconds = 120) {
        standin::StandinOptions options;
        options.worldJson = worldJson;
        options.lifetimeSeconds = lifetimeSeconds;
        started = server.start(options);
        EXPECT_TRUE(started) << server.lastError();
    }
    ~StandinFixture() { server.stop(); }

    SearchEndpoints endpoints() const {
        SearchEndpoints e;
        e.webHost = server.host();
        e.domain = "so.com";
        return e;
    }

    standin::SearchStandin server;
    bool started = false;
};

// A data folder with a fresh database, removed at the end.
class TempDatabase {
  public:
    TempDatabase() {
        SilentNotifier quiet;
        EXPECT_TRUE(PrepareDatabase(m_folder.path(), m_folder.file("database"), path(), quiet));
    }
    std::string path() const { return m_folder.file("database/main_360.db"); }

  private:
    TempFolder m_folder;
};

// Ten displayed addresses none of which is a planted site.
inline std::string FillerPage(const std::string& tag) {
    std::string page = "[";
    for (int i = 1; i <= 10; ++i)
        page += std::string(i > 1 ? "," : "") + "\"www.filler-" + tag + "-" + std::to_string(i) +
                ".com/p\"";
    return page + "]";
}

}  // namespace velquist::testing
