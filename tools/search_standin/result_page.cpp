#include "tools/search_standin/result_page.h"

#include <array>
#include <string>

#include "core/text.h"

namespace velquist::standin {
namespace {

// splitmix64: a tiny generator defined bit for bit, so pages are byte-identical on every machine.
class Sequence {
  public:
    explicit Sequence(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    std::size_t below(std::size_t bound) { return bound == 0 ? 0 : next() % bound; }

  private:
    std::uint64_t m_state;
};

std::string Hex(std::uint64_t value, int digits) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out(static_cast<std::size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i) {
        out[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
        value >>= 4;
    }
    return out;
}

constexpr std::array<const char*, 8> kSentences = {
    "提供最新最全的行业资讯、产品报价与使用指南，帮助您快速了解相关知识。",
    "本站整理了常见问题解答，涵盖选购技巧、售后服务以及用户真实评价。",
    "专业团队多年经验，服务覆盖全国主要城市，欢迎来电咨询与实地考察。",
    "汇集海量图片与视频教程，从入门到精通，一步一步教您掌握核心要点。",
    "每日更新市场动态与价格走势，数据来源公开透明，仅供参考。",
    "品牌直营，正品保障，支持货到付款与七天无理由退换货。",
    "用户社区活跃，分享心得体会，解答疑难问题，结识志同道合的朋友。",
    "详细介绍发展历史、主要特点、适用场景与注意事项，内容持续完善中。",
};

constexpr std::array<const char*, 5> kTitleForms = {
    "%s_官方网站",           "%s价格_%s批发_行业资讯",  "关于%s的常见问题 - 百科知识",
    "%s哪家好?口碑推荐榜单", "%s图片大全_相关视频教程",
};

constexpr std::array<const char*, 10> kCssProperties = {
    "color:#",
    "background-color:#",
    "border-color:#",
    "outline-color:#",
    "fill:#",
    "stroke:#",
    "text-decoration-color:#",
    "caret-color:#",
    "column-rule-color:#",
    "border-top-color:#",
};

constexpr std::array<const char*, 8> kCssSelectors = {
    ".res-list .res-title a", ".res-desc em", ".e-idea-item .e-title", ".side-related a",
    ".nav-tabs li",           "#page a",      ".res-linkinfo .m",      ".tips strong",
};

constexpr std::array<const char*, 8> kScriptNames = {
    "track", "expose", "lazyload", "suggest", "feedback", "toolbar", "history", "prefetch",
};

std::string FillTemplate(const char* form, const std::string& word) {
    std::string out;
    for (const char* p = form; *p != '\0'; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            out += word;
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

std::string Description(Sequence& seq, const std::string& escapedKeyword) {
    std::string out = "<em>" + escapedKeyword + "</em>";
    const std::size_t count = 2 + seq.below(3);
    for (std::size_t i = 0; i < count; ++i) {
        out += kSentences[seq.below(kSentences.size())];
    }
    return out;
}

void AppendStyleFiller(std::string& out, Sequence& seq, std::size_t bytes) {
    const std::size_t goal = out.size() + bytes;
    int rule = 0;
    while (out.size() < goal) {
        out += kCssSelectors[seq.below(kCssSelectors.size())];
        out += ".v";
        out += std::to_string(rule++);
        out += "{";
        out += kCssProperties[seq.below(kCssProperties.size())];
        out += Hex(seq.next(), 6);
        out += ";margin:" + std::to_string(seq.below(24)) + "px " + std::to_string(seq.below(24)) +
               "px;}\n";
    }
}

void AppendScriptFiller(std::string& out, Sequence& seq, std::size_t bytes) {
    const std::size_t goal = out.size() + bytes;
    int module = 0;
    while (out.size() < goal) {
        const char* name = kScriptNames[seq.below(kScriptNames.size())];
        out += "window.__m";
        out += std::to_string(module++);
        out += "=function(e){var t=e||{};return t.";
        out += name;
        out += "?t.";
        out += name;
        out +=
            "(\"" + Hex(seq.next(), 16) + "\"," + std::to_string(seq.below(100000)) + "):null};\n";
    }
}

void AppendOrganic(std::string& out, Sequence& seq, const ResultPageContent& content,
                   const std::string& escapedKeyword) {
    int position = 0;
    for (const std::string& address : content.organic) {
        ++position;
        const std::uint64_t roll = seq.next();
        out += "<li class=\"res-list\" data-pos=\"" + std::to_string(position) + "\">";
        out += "<h3 class=\"res-title\"><a href=\"link?m=" + Hex(seq.next(), 16) +
               "\" target=\"_blank\">";
        out += FillTemplate(kTitleForms[roll % kTitleForms.size()], escapedKeyword);
        out += "</a></h3>\n<p class=\"res-desc\">" + Description(seq, escapedKeyword) + "</p>\n";
        // Both forms of the address element occur on real pages.
        out += (roll >> 8) % 2 == 0 ? "<p class=\"res-linkinfo\"><cite>"
                                    : "<p class=\"res-linkinfo\"><cite class=\"res-url\">";
        out += address;
        out += "</cite> - <a class=\"m\" href=\"snapshot?m=" + Hex(seq.next(), 16) +
               "\" target=\"_blank\">快照</a></p></li>\n";
    }
}

void AppendLeftAds(std::string& out, Sequence& seq, const std::vector<std::string>& addresses,
                   const std::string& escapedKeyword) {
    for (const std::string& address : addresses) {
        out += "<li class=\"e-idea-item\"><h3 class=\"e-title\"><a href=\"link?ad=" +
               Hex(seq.next(), 16) + "\" target=\"_blank\">" + escapedKeyword +
               "-品质保障,厂家直销</a></h3>\n";
        out += "<p class=\"e-desc\">" + std::string(kSentences[seq.below(kSentences.size())]) +
               "</p>\n";
        out += "<p class=\"e-url\"><cite>" + address +
               "</cite><span class=\"e-tag\">广告</span></p></li>\n";
    }
}

void AppendRightAds(std::string& out, Sequence& seq, const std::vector<std::string>& addresses,
                    const std::string& escapedKeyword) {
    for (const std::string& address : addresses) {
        out += "<li class=\"e-side-item\"><a class=\"e-side-title\" href=\"link?ad=" +
               Hex(seq.next(), 16) + "\" target=\"_blank\">" + escapedKeyword + " 专业服务</a>\n";
        out += "<p class=\"e-side-desc\">" + std::string(kSentences[seq.below(kSentences.size())]) +
               "</p>";
        out += "<cite>" + address + "</cite></li>\n";
    }
}

void AppendPager(std::string& out, const ResultPageContent& content) {
    out += "<div id=\"page\">";
    if (content.pageNo > 1) {
        out += "<a id=\"sprev\" href=\"" + PageLinkTarget(content.keyword, content.pageNo - 1) +
               "\">&lt;上一页</a>";
    }
    for (int page = 1; page <= 10; ++page) {
        if (page == content.pageNo) {
            out += "<strong>" + std::to_string(page) + "</strong>";
        } else {
            out += "<a href=\"" + PageLinkTarget(content.keyword, page) + "\">" +
                   std::to_string(page) + "</a>";
        }
    }
    if (!content.nextTarget.empty()) {
        out += "<a id=\"snext\" href=\"" + content.nextTarget + "\">下一页&gt;</a>";
    }
    out += "</div>\n";
}

}  // namespace

std::uint64_t Fnv1a64(std::string_view bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (unsigned char byte : bytes) {
        hash ^= byte;
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string PageLinkTarget(std::string_view keyword, int pageNo) {
    const std::uint64_t hash = Fnv1a64(keyword);
    const std::string psid = Hex(hash, 16) + Hex(Fnv1a64(Hex(hash, 16)), 16);
    return "s?q=" + UrlEncodeForm(keyword) + "&pn=" + std::to_string(pageNo) + "&psid=" + psid +
           "&src=srp&fr=none";
}

std::string BuildResultPage(const ResultPageContent& content) {
    Sequence seq(Fnv1a64(content.keyword) ^
                 (static_cast<std::uint64_t>(content.pageNo) * 0x9E3779B97F4A7C15ULL));
    const std::string keyword = HtmlEscape(content.keyword);

    std::string head;
    head +=
        "<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
        "<meta http-equiv=\"X-UA-Compatible\" content=\"IE=edge\">\n";
    head += "<title>" + keyword + "_搜索结果</title>\n";
    head += "<link rel=\"stylesheet\" href=\"static/css/result.css\">\n<style>\n";

    std::string body;
    body +=
        "</style>\n</head>\n<body class=\"page-result\">\n<div id=\"header\">"
        "<form id=\"search-form\" action=\"s\" method=\"get\">"
        "<input type=\"text\" name=\"q\" id=\"keyword\" value=\"" +
        keyword +
        "\" autocomplete=\"off\">"
        "<input type=\"hidden\" name=\"ie\" value=\"utf-8\"><button "
        "type=\"submit\">搜索</button></form>\n"
        "<ul "
        "class=\"nav-tabs\"><li>网页</li><li>资讯</li><li>视频</li><li>图片</li><li>地图</li></"
        "ul></div>\n";
    body +=
        "<div id=\"container\"><div id=\"main\" class=\"main-wrap\">\n<div id=\"m-spread-left\" "
        "class=\"spread-left\">\n";
    body += "<p class=\"tips\">为您找到相关结果约" + std::to_string(100000 + seq.below(90000000)) +
            "个</p>\n";
    body += "<ul id=\"e_idea_pp\" class=\"e-idea-list\">\n";
    AppendLeftAds(body, seq, content.ads.top, keyword);
    body += "</ul>\n<ul class=\"result\">\n";
    AppendOrganic(body, seq, content, keyword);
    body += "</ul>\n<ul id=\"e_idea_pp_vip_bottom\" class=\"e-idea-list\">\n";
    AppendLeftAds(body, seq, content.ads.bottom, keyword);
    body += "</ul>\n";
    AppendPager(body, content);
    body +=
        "</div></div>\n<div id=\"side\"><div id=\"rightbox\" class=\"side-ads\"><ul "
        "class=\"e-side-list\">\n";
    AppendRightAds(body, seq, content.ads.right, keyword);
    body += "</ul></div>\n<div class=\"side-related\"><h4>相关搜索</h4>";
    for (int i = 0; i < 8; ++i) {
        body += "<a href=\"" + PageLinkTarget(content.keyword, 1) + "&rs=" + std::to_string(i) +
                "\">" + keyword + kSentences[seq.below(kSentences.size())] + "</a>";
    }
    body +=
        "</div></div>\n</div>\n<div id=\"footer\"><p>帮助 | 意见反馈 | 隐私政策 | "
        "使用条款</p></div>\n<script>\n";
    const std::string tail = "</script>\n</body></html>\n";

    const std::size_t fixed = head.size() + body.size() + tail.size();
    const std::size_t padding = content.targetBytes > fixed ? content.targetBytes - fixed : 0;
    std::string page;
    page.reserve(fixed + padding + 256);
    page += head;
    AppendStyleFiller(page, seq, padding * 2 / 5);
    page += body;
    const std::size_t scriptBytes = content.targetBytes > page.size() + tail.size()
                                        ? content.targetBytes - page.size() - tail.size()
                                        : 0;
    AppendScriptFiller(page, seq, scriptBytes);
    page += tail;
    return page;
}

std::string BuildVerificationPage() {
    return "<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta "
           "charset=\"utf-8\"><title>安全验证</title>\n"
           "<style>.verify-wrap{width:480px;margin:80px auto;font-size:14px}.verify-wrap "
           "img{display:block;"
           "margin:12px 0}</style></head>\n<body><div class=\"verify-wrap\"><h2>访问异常</h2>"
           "<p>您的访问过于频繁，为确认本次访问为正常用户行为，请输入下图中的验证码。</p>\n"
           "<form id=\"verifyform\" method=\"post\" action=\"verify\"><img src=\"captcha?t=1\" "
           "alt=\"验证码\">"
           "<input type=\"text\" name=\"captcha\" maxlength=\"6\"><button "
           "type=\"submit\">提交</button></form>"
           "</div></body></html>\n";
}

std::string BuildErrorPage(int status) {
    const char* reason = "Error";
    switch (status) {
        case 500:
            reason = "Internal Server Error";
            break;
        case 502:
            reason = "Bad Gateway";
            break;
        case 503:
            reason = "Service Unavailable";
            break;
        case 504:
            reason = "Gateway Timeout";
            break;
        case 429:
            reason = "Too Many Requests";
            break;
        default:
            break;
    }
    const std::string title = std::to_string(status) + " " + reason;
    return "<html><head><title>" + title + "</title></head><body><h1>" + title +
           "</h1><hr><p>server busy, please retry later</p></body></html>\n";
}

}  // namespace velquist::standin
