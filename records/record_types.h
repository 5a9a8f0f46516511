#pragma once

#include <string>

#include "core/text.h"  // kRankTextMaxBytes

namespace velquist {

// One site's last result for a keyword, as shown in that site's column of a keyword list.
struct SiteResult {
    int rankNum = 0;
    std::string url;
    std::string rankText;  // at most kRankTextMaxBytes, cut on a character boundary
};

// What an add of keywords did. `requested` counts the non-blank keywords handed in; blank
// ones are dropped before the add and counted nowhere.
struct AddOutcome {
    bool committed = false;
    int requested = 0;
    int added = 0;
    int skipped = 0;  // already stored, or repeated within the batch
};

inline constexpr const char* kAddFinished = "添加完毕";
inline constexpr const char* kAddPartlySkipped =
    "您添加的内容包含已有的或重复的项，其余项已添加完毕";
inline constexpr const char* kAddFailed = "添加失败";
inline constexpr const char* kDeleteKeywordsFailed = "删除关键词失败！";

}  // namespace velquist
