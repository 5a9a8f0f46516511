#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace velquist {

// A promotion site as stored in table `website`.
struct PromotionSite {
    std::string url;
    int selected = 1;
};

// One plan or unit of the paid account tree (unitId 0 and an empty unit for a plan).
struct STRUCT_TREEDATA {
    int planId = 0;
    std::string plan;
    int unitId = 0;
    std::string unit;
};

// The values the whole process shares, with their start values. The flags and numbers are
// atomics read without locks; the lists and the user agent are guarded by m_mutex.
class ProcessState {
  public:
    static constexpr std::size_t kUserAgentMaxBytes = 511;

    std::atomic<int> pageCount{5};
    std::atomic<int> siteColumnCount{0};
    std::atomic<int> firstNewKeywordId{-1};
    std::atomic<bool> queryRunning{false};
    std::atomic<bool> queryFinished{true};

    int leftPaneWidth = 230;
    int rightPaneWidth = 500;
    int leftPaneMinimum = 30;
    int rightPaneMinimum = 30;
    int messageBoxWidth = 400;
    int messageBoxHeight = 200;

    std::string userAgent() const;
    // Stores at most 511 bytes, never splitting a UTF-8 character.
    void setUserAgent(const std::string& text);

    std::vector<PromotionSite> promotionSites() const;
    void setPromotionSites(std::vector<PromotionSite> sites);

    std::vector<STRUCT_TREEDATA> treeItems() const;
    void setTreeItems(std::vector<STRUCT_TREEDATA> items);

  private:
    mutable std::mutex m_mutex;
    std::string m_userAgent;                   // guarded by m_mutex
    std::vector<PromotionSite> m_sites;        // guarded by m_mutex
    std::vector<STRUCT_TREEDATA> m_treeItems;  // guarded by m_mutex
};

// The one instance of the process.
ProcessState& Process();

}  // namespace velquist
