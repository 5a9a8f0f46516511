#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "core/process_state.h"
#include "core/schema.h"
#include "core/user_notifier.h"
#include "recording_notifier.h"

namespace velquist::testing {

// A fresh database with the program's schema in a folder of its own, removed afterwards.
class RecordsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "velquist-records-XXXXXX");
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_folder = pattern;
        m_dbPath = m_folder + "/main_360.db";
        SilentNotifier silent;
        ASSERT_TRUE(SyncSchema(m_dbPath, BuiltinSchemaScript(), kSchemaFromText, silent));
        Process().setPromotionSites({});
        Process().setTreeItems({});
        Process().siteColumnCount = 0;
        Process().firstNewKeywordId = -1;
    }
    void TearDown() override { std::filesystem::remove_all(m_folder); }

    const std::string& dbPath() const { return m_dbPath; }
    const std::string& folder() const { return m_folder; }

    // Runs SQL of the test's own, outside the code under test.
    void exec(const std::string& sql) const {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(m_dbPath.c_str(), &db), SQLITE_OK);
        char* error = nullptr;
        const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
        const std::string message = error ? error : "";
        sqlite3_free(error);
        sqlite3_close(db);
        ASSERT_EQ(rc, SQLITE_OK) << message << " in: " << sql;
    }

    // All rows of a query, every column as text ("NULL" for NULL).
    std::vector<std::vector<std::string>> rows(const std::string& sql) const {
        std::vector<std::vector<std::string>> result;
        sqlite3* db = nullptr;
        if (sqlite3_open(m_dbPath.c_str(), &db) != SQLITE_OK) {
            sqlite3_close(db);
            ADD_FAILURE() << "cannot open " << m_dbPath;
            return result;
        }
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << sqlite3_errmsg(db) << " in: " << sql;
        } else {
            while (sqlite3_step(statement) == SQLITE_ROW) {
                auto& row = result.emplace_back();
                for (int c = 0; c < sqlite3_column_count(statement); ++c) {
                    const auto* text = sqlite3_column_text(statement, c);
                    row.push_back(text ? std::string(reinterpret_cast<const char*>(text),
                                                     sqlite3_column_bytes(statement, c))
                                       : "NULL");
                }
            }
        }
        sqlite3_finalize(statement);
        sqlite3_close(db);
        return result;
    }

    // The first column of every row.
    std::vector<std::string> column(const std::string& sql) const {
        std::vector<std::string> values;
        for (auto& row : rows(sql)) values.push_back(row.at(0));
        return values;
    }

    int count(const std::string& table) const {
        return std::stoi(rows("SELECT COUNT(*) FROM " + table).at(0).at(0));
    }

  private:
    std::string m_folder;
    std::string m_dbPath;
};

}  // namespace velquist::testing
