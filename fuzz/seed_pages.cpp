// Writes seed inputs for the page harnesses ("SITE\nPAGE") built by the stand-in's page code:
//   fuzz_seed_pages NATURAL_DIR PAID_DIR
// Pages are kept small so that the harnesses also compare against the old cite pattern.
#include <cstdio>
#include <fstream>
#include <string>

#include "tools/search_standin/result_page.h"

namespace {

using velquist::standin::ResultPageContent;

bool Write(const std::string& path, const std::string& site, const std::string& page) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << site << '\n' << page;
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s NATURAL_DIR PAID_DIR\n", argv[0]);
        return 2;
    }
    const std::string natural = argv[1];
    const std::string paid = argv[2];

    ResultPageContent first;
    first.keyword = "鲜花速递";
    first.pageNo = 1;
    first.organic = {"www.flowers-a.cn/shop", "<b>www.mine.com</b>/x", "b.example.com",
                     "www.other.cn"};
    first.ads.top = {"www.ad-one.com", "<b>mine.com</b>"};
    first.ads.bottom = {"bottom.example.cn"};
    first.ads.right = {"right-a.com", "www.mine.com"};
    first.nextTarget = velquist::standin::PageLinkTarget(first.keyword, 2);
    first.targetBytes = 6 * 1024;

    ResultPageContent second = first;
    second.keyword = "office chairs";
    second.pageNo = 3;
    second.organic = {"shop.example.com/chairs", "www.chairs.cn", "MINE.COM/offers"};
    second.ads = {};
    second.ads.right = {"www.mine.com/right"};
    second.nextTarget = velquist::standin::PageLinkTarget(second.keyword, 4);

    ResultPageContent empty = first;
    empty.keyword = "nothing";
    empty.organic = {};
    empty.ads = {};
    empty.nextTarget.clear();

    bool ok = true;
    ok &= Write(natural + "/standin-page1", "www.mine.com", velquist::standin::BuildResultPage(first));
    ok &= Write(natural + "/standin-page3", "http://mine.com", velquist::standin::BuildResultPage(second));
    ok &= Write(natural + "/standin-empty", "www.mine.com", velquist::standin::BuildResultPage(empty));
    ok &= Write(natural + "/verification", "www.mine.com", velquist::standin::BuildVerificationPage());
    ok &= Write(paid + "/standin-page1", "www.mine.com/landing", velquist::standin::BuildResultPage(first));
    ok &= Write(paid + "/standin-right", "mine.com", velquist::standin::BuildResultPage(second));
    ok &= Write(paid + "/standin-empty", "www.mine.com", velquist::standin::BuildResultPage(empty));
    return ok ? 0 : 1;
}
