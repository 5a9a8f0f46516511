#pragma once

#include <string>

namespace velquist {

// The settings file "RankSettings.ini": section "RankSettings", keys "PageNum" and "Time".
// Reads are forgiving like the system profile functions (a missing or damaged file reads as
// defaults); every write rewrites the file from what could be read, which repairs it.
class RankSettings {
  public:
    static constexpr int kDefaultPageCount = 5;

    explicit RankSettings(std::string path) : m_path(std::move(path)) {}

    // The stored page count when it lies in 1..10; otherwise `currentPageCount` is written back
    // and returned.
    int readPageCount(int currentPageCount) const;
    void writePageCount(int pageCount) const;

    // The client identifier, read back whole ("" when missing).
    std::string readClientId() const;
    // Writes "time_<seconds since 1970>" and returns it.
    std::string writeClientId() const;

    const std::string& path() const { return m_path; }

  private:
    std::string readValue(const std::string& key, const std::string& fallback) const;
    void writeValue(const std::string& key, const std::string& value) const;

    std::string m_path;
};

}  // namespace velquist
