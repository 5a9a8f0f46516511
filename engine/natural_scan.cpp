#include "engine/natural_scan.h"

#include <fmt/format.h>

#include "core/text.h"
#include "engine/address_elements.h"
#include "engine/page_markers.h"

namespace velquist {

namespace {

constexpr int kMaxFetchAttempts = 10;
constexpr auto kRetryWait = std::chrono::milliseconds(500);
constexpr auto kPageWait = std::chrono::milliseconds(200);

}  // namespace

bool FetchResultPage(CHttpClient& client, std::string& page, const ScanEnvironment& env) {
    std::string body;
    std::string headers;
    for (int attempt = 0; attempt < kMaxFetchAttempts; ++attempt) {
        if (!env.isRunning()) return false;
        const int result = client.Perform(body, headers);
        // The same page would be as large again: no point asking for it ten times.
        if (CHttpClient::IsOversizedBody(result)) return false;
        if (result != 0) {
            env.wait(kRetryWait);
            continue;
        }
        if (body.find(markers::kVerification) != std::string::npos) return false;
        if (body.find(markers::kPage) != std::string::npos) {
            page = std::move(body);
            return true;
        }
    }
    return false;
}

int ParseNaturalPage(const std::string& page, int pageNo, STRUCT_SITE& site) {
    if (site.url.empty()) return -1;
    const std::string pattern = ReplaceAll(ReplaceAll(site.url, "http://", ""), "www", "");
    const std::string block = TextBetween(page, markers::kOrganicStart, markers::kOrganicEnd);
    if (!FindNoCase(block, pattern)) {
        // A page that does not mention the site counts as ten positions.
        site.rankNum += 10;
        site.found = false;
        return 0;
    }
    AddressElements elements(block, AddressElements::Form::WithAttributes);
    while (const auto element = elements.next()) {
        std::string citeText(*element);
        if (citeText.find("<b>") != std::string::npos && citeText.find("</b>") != std::string::npos)
            citeText =
                TrimWhitespace(ReplaceAll(TextBetween(citeText, "<b>", "</cite>"), "</b>", ""));
        site.rankNum += 1;
        if (FindNoCase(citeText, pattern)) {
            site.found = true;
            site.rankText = Utf8Prefix(fmt::format("第{0}名，第{1}页", site.rankNum, pageNo),
                                       kRankTextMaxBytes);
            return 1;
        }
    }
    return 0;
}

void MarkUnfoundSitesFailed(std::vector<STRUCT_SITE>& sites) {
    for (auto& site : sites)
        if (site.rankText.empty()) site.failed = true;
}

bool ScanNatural(CHttpClient* client, const std::string& keyword, std::vector<STRUCT_SITE>& sites,
                 const ScanEnvironment& env) {
    if (!client) return false;
    std::string pageUrl = env.endpoints.resultPageUrl(UrlEncodeForm(keyword));
    std::string referer = env.endpoints.firstReferer();
    std::string page;
    for (int pageNo = 1; pageNo <= env.currentPageCount(); ++pageNo) {
        client->url = pageUrl;
        client->referer = referer;
        if (!FetchResultPage(*client, page, env)) {
            MarkUnfoundSitesFailed(sites);
            return false;
        }

        bool allDone = true;
        for (auto& site : sites) {
            if (site.found) continue;
            const int result = ParseNaturalPage(page, pageNo, site);
            if (result == 0) allDone = false;
        }
        if (allDone) return true;

        if (pageNo != env.currentPageCount()) {
            referer = pageUrl;
            pageUrl = env.endpoints.nextPageBase() +
                      TextBetween(page, markers::kNextLinkStart, markers::kNextLinkEnd);
            env.wait(kPageWait);
        }
    }
    return true;
}

}  // namespace velquist
