#pragma once

#include <string>
#include <vector>

#include "core/text.h"

namespace velquist {

// What a site result shows when the site is not among the results walked, and when its check
// could not be finished (verification page, every fetch failing, an unreadable or oversized
// page, a stop in the middle of the keyword). Telling the two apart matters: users act on "无".
inline constexpr const char* kNotFoundRankText = "无";
inline constexpr const char* kFailedRankText = "查询失败";

// A paid result in the right column carries its slot plus this as its rank number.
inline constexpr int kRightColumnOffset = 50;

// A promotion site with its rank state for one keyword. Each keyword's work item holds its own
// copies, so workers never share one.
struct STRUCT_SITE {
    int index = 0;       // position in the keyword's site array
    int rankNum = 0;     // rank when found, else the positions passed
    int selected = 0;    // non-zero when the site is enabled
    bool found = false;  // set by the natural scan once found
    std::string url;     // the site address as entered
    std::string rankText;  // "第14名，第2页", "左4", "右2"; empty until found (at most 31 bytes)
    bool failed = false;  // the check ended before this site was found or ruled out

    // The text stored and shown for this result.
    std::string resultText() const {
        if (!rankText.empty()) return rankText;
        return failed ? kFailedRankText : kNotFoundRankText;
    }
};

// A keyword row and query work item. Ownership passes from the queue to a worker and from the
// worker to whoever receives the "keyword finished" event.
struct STRUCT_WORD {
    int id = 0;  // keywordId of seokeyword or keyword
    std::string keyword;
    std::string unitid;  // paid keywords only
    std::string unit;
    std::string planid;
    std::string plan;
    std::string time;  // last query, "%Y-%m-%d %H:%M:%S"
    bool pending = false;
    bool stored = false;             // set by the worker when the results reached the database
    std::vector<STRUCT_SITE> sites;  // filled by the worker: one copy per enabled site

    int siteCount() const { return static_cast<int>(sites.size()); }
    bool checkFailed() const {
        for (const auto& site : sites)
            if (site.failed) return true;
        return false;
    }
};

}  // namespace velquist
