// Parses a 300 KB result page for natural and paid ranks and compares the time per page with a
// plain scan of the same bytes for a marker (one pass over every byte: the least a parser does).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "engine/natural_scan.h"
#include "engine/page_markers.h"
#include "engine/paid_scan.h"
#include "tools/search_standin/result_page.h"

using namespace velquist;
using Clock = std::chrono::steady_clock;

namespace {

// Median time per call in microseconds over `rounds` rounds of `calls` calls.
template <typename F>
double MedianMicros(int rounds, int calls, F&& work) {
    std::vector<double> samples;
    for (int r = 0; r < rounds; ++r) {
        const auto start = Clock::now();
        for (int i = 0; i < calls; ++i) work();
        const std::chrono::duration<double, std::micro> took = Clock::now() - start;
        samples.push_back(took.count() / calls);
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

volatile std::size_t g_sink;

}  // namespace

int main() {
    standin::ResultPageContent content;
    content.keyword = "鲜花快递";
    content.pageNo = 1;
    for (int i = 1; i <= 10; ++i)
        content.organic.push_back("www.<b>result" + std::to_string(i) + "</b>.com/path/" +
                                  std::to_string(i));
    content.ads.top = {"top1.com", "top2.com", "top3.com"};
    content.ads.bottom = {"bottom1.com", "bottom2.com"};
    content.ads.right = {"right1.com", "right 2.com", "right3.com", "right4.com"};
    content.nextTarget = "s?q=x&pn=2";
    content.targetBytes = 300 * 1024;
    const std::string page = standin::BuildResultPage(content);

    // The baseline reads every byte once: a search for a marker the page does not hold.
    const std::string_view absent = markers::kVerification;
    const double scan = MedianMicros(9, 200, [&] {
        g_sink = reinterpret_cast<std::size_t>(
            memmem(page.data(), page.size(), absent.data(), absent.size()));
    });
    // A site on the last organic result: the whole organic block is walked.
    const double natural = MedianMicros(9, 200, [&] {
        STRUCT_SITE site;
        site.url = "www.result10.com";
        g_sink = static_cast<std::size_t>(ParseNaturalPage(page, 1, site)) + site.rankNum;
    });
    const double paid = MedianMicros(9, 200, [&] {
        STRUCT_SITE site;
        site.url = "right4.com";
        ParsePaidPage(page, site);
        g_sink = static_cast<std::size_t>(site.rankNum);
    });

    std::printf("page size: %zu bytes\n", page.size());
    std::printf("plain marker scan:   %8.1f us/page\n", scan);
    std::printf("ParseNaturalPage:    %8.1f us/page  ratio %.2fx\n", natural, natural / scan);
    std::printf("ParsePaidPage:       %8.1f us/page  ratio %.2fx\n", paid, paid / scan);
    return 0;
}
