#pragma once

#include <string>
#include <vector>

#include "engine/http_client.h"
#include "engine/rank_types.h"
#include "engine/scan_environment.h"

namespace velquist {

// Reads the advertisement blocks of the keyword's first result page and records every site's
// slot. The client's referer is set by the caller. Does nothing when `client` is null. False
// when the page could not be had: every site is then marked failed.
bool ScanPaid(CHttpClient* client, const std::string& keyword, std::vector<STRUCT_SITE>& sites,
              const ScanEnvironment& env);

// One page, one site: left column (top then bottom block) first, then the right column.
void ParsePaidPage(const std::string& page, STRUCT_SITE& site);

// Searches one column's text; true when the site is in one of its slots.
bool MatchAdBlock(STRUCT_SITE& site, const std::string& block, const std::string& columnWord);

}  // namespace velquist
