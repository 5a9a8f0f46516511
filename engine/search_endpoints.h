#pragma once

#include <string>

namespace velquist {

// The result-page addresses of the search engine, from its configured web host and domain.
struct SearchEndpoints {
    std::string webHost = "www.so.com";
    std::string domain = "so.com";

    // "https://HOST/s?ie=utf-8&shb=1&src=home_DOMAIN&q=ENCODED"
    std::string resultPageUrl(const std::string& encodedKeyword) const {
        return "https://" + webHost + "/s?ie=utf-8&shb=1&src=home_" + domain +
               "&q=" + encodedKeyword;
    }
    // "http://HOST/?src=DOMAIN"
    std::string firstReferer() const { return "http://" + webHost + "/?src=" + domain; }
    // "https://HOST/"; the page's next link is appended to it as it stands.
    std::string nextPageBase() const { return "https://" + webHost + "/"; }
};

}  // namespace velquist
