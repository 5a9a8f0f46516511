#pragma once

#include <string>
#include <vector>

#include "core/text.h"

namespace velquist {

// A promotion site with its rank state for one keyword. Each keyword's work item holds its own
// copies, so workers never share one.
struct STRUCT_SITE {
    int index = 0;       // position in the keyword's site array
    int rankNum = 0;     // rank when found, else the positions passed
    int selected = 0;    // non-zero when the site is enabled
    bool found = false;  // set by the natural scan once found
    std::string url;     // the site address as entered
    std::string rankText;  // "第14名，第2页", "左4", "右2"; empty until found (at most 31 bytes)
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
    std::vector<STRUCT_SITE> sites;  // filled by the worker: one copy per enabled site

    int siteCount() const { return static_cast<int>(sites.size()); }
};

}  // namespace velquist
