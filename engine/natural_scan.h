#pragma once

#include <string>
#include <vector>

#include "engine/http_client.h"
#include "engine/rank_types.h"
#include "engine/scan_environment.h"

namespace velquist {

// Walks the organic result pages of one keyword, from page 1 up to the page count, and records
// every site's rank in its record. Does nothing when `client` is null. False when the walk could
// not be finished (a fetch failed or the run stopped): the sites not found by then are marked
// failed.
bool ScanNatural(CHttpClient* client, const std::string& keyword, std::vector<STRUCT_SITE>& sites,
                 const ScanEnvironment& env);

// Fetches client->url with up to ten attempts; true for a genuine result page, copied into
// `page`. A verification page ends at once; a stop ends before the next attempt.
bool FetchResultPage(CHttpClient& client, std::string& page, const ScanEnvironment& env);

// Marks every site without a rank as failed: its check could not be finished.
void MarkUnfoundSitesFailed(std::vector<STRUCT_SITE>& sites);

// One page, one site: 1 found on this page, 0 not, -1 the site has no address.
int ParseNaturalPage(const std::string& page, int pageNo, STRUCT_SITE& site);

}  // namespace velquist
