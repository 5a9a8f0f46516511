#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "core/process_state.h"
#include "core/user_notifier.h"

namespace velquist {

inline constexpr const char* kSiteEmpty = "网址为空，请输入正确的网址！";
inline constexpr const char* kSiteInvalidFormat = "您输入的 【 {0} 】 不是正确的网址 ！";
inline constexpr const char* kSiteDuplicateFormat = "您输入的 【 {0} 】 已经存在表中 ！";
inline constexpr const char* kSiteAdded = "添加成功！";
inline constexpr const char* kSiteSaveFailed = "网址设置失败，请重试！";

// Replaces the process-wide site list with table `website` ordered by url (NULL urls skipped)
// and returns the table's row count. Without a connection the list stays and 0 is returned.
int ReloadSiteList(const std::string& dbPath);

// The sites in the order they were entered (urlid order); nullopt without a connection.
std::optional<std::vector<PromotionSite>> LoadSitesForSettings(const std::string& dbPath);

// Replaces the stored sites with `sites`, urlid 0, 1, 2, ... in list order, in one write
// transaction: on false the previous list is still stored whole.
bool SaveSites(const std::string& dbPath, const std::vector<PromotionSite>& sites);

// True when the whole text is a web address the site list accepts (host with a known or
// lower-case two-letter top-level domain, optionally followed by a path).
bool IsValidSiteAddress(const std::string& utf8);

struct SiteCheckResult {
    bool accepted = false;
    std::string url;      // the cleaned address when accepted
    std::string message;  // the text to show when refused
};

// Checks a typed address before it joins `current`: trims it, removes "HTTP://", "http://" and
// "Http://", validates it and refuses a byte-equal duplicate.
SiteCheckResult CheckNewSite(const std::string& typed, const std::vector<PromotionSite>& current);

// Index of the site named by its url or by its 1-based position in `sites`.
std::optional<std::size_t> FindSite(const std::vector<PromotionSite>& sites,
                                    const std::string& urlOrPosition);

// Edits of the stored list in entry order, each followed by a save and, when saved, by a
// reload of the process-wide list and the site column count. An address that is empty, malformed
// or already listed is refused before the database is locked, and the check is repeated under
// the lock; any text is shown only after the transaction has ended.
enum class SiteEditStatus {
    Saved,
    Refused,     // the address was refused; the reason went to the notifier
    NotFound,    // no site with that url or position; nothing was shown
    SaveFailed,  // the list could not be read or written; kSiteSaveFailed was shown
};

SiteEditStatus AddSite(const std::string& dbPath, const std::string& typed, UserNotifier& notifier);
SiteEditStatus SetSiteEnabled(const std::string& dbPath, const std::string& urlOrPosition,
                              bool enabled, UserNotifier& notifier);
SiteEditStatus ModifySite(const std::string& dbPath, const std::string& urlOrPosition,
                          const std::string& typed, UserNotifier& notifier);
SiteEditStatus RemoveSite(const std::string& dbPath, const std::string& urlOrPosition,
                          UserNotifier& notifier);

}  // namespace velquist
