#pragma once

#include <cstddef>
#include <string>

namespace velquist {

// The settings file "RankSettings.ini": section "RankSettings", keys "PageNum" and "Time".
// Reads are forgiving like the system profile functions (a missing or damaged file reads as
// defaults; section and key names match whatever their case); every write rewrites the file from
// what could be read, which repairs it. A write replaces the file whole through a temporary file
// beside it, so a failed or killed write leaves the previous file as it was.
class RankSettings {
  public:
    static constexpr int kDefaultPageCount = 5;
    // A larger file is not one this program wrote; it reads as damaged.
    static constexpr std::size_t kMaxFileBytes = 1024 * 1024;

    explicit RankSettings(std::string path) : m_path(std::move(path)) {}

    // The stored page count when it lies in 1..10; otherwise `currentPageCount` is written back
    // and returned.
    int readPageCount(int currentPageCount) const;
    // False when the file could not be written; it is then left as it was.
    bool writePageCount(int pageCount) const;

    // The client identifier, read back whole ("" when missing).
    std::string readClientId() const;

    struct WrittenClientId {
        std::string id;  // "time_<seconds since 1970>", usable for this run either way
        bool stored = false;
    };
    WrittenClientId writeClientId() const;

    const std::string& path() const { return m_path; }

  private:
    std::string readValue(const std::string& key, const std::string& fallback) const;
    bool writeValue(const std::string& key, const std::string& value) const;

    std::string m_path;
};

}  // namespace velquist
