#include "engine/http_client.h"

#include <curl/curl.h>

#include <cctype>
#include <fstream>
#include <memory>
#include <string_view>

#include "core/text.h"
#include "engine/http_text.h"

namespace velquist {

namespace {

constexpr std::size_t kBodyReserveBytes = 204800;
constexpr std::size_t kHeadersReserveBytes = 512;
// Header blocks of every response of a redirect chain together.
constexpr std::size_t kMaxHeaderBytes = 1024 * 1024;
constexpr long kMaxRedirects = 10;

struct EasyHandleDeleter {
    void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyHandleDeleter>;

struct StringListDeleter {
    void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};
using StringList = std::unique_ptr<curl_slist, StringListDeleter>;

// curl_slist_append leaves the old list alone when it fails, so ownership only moves on success.
void AppendLine(StringList& list, const std::string& line) {
    if (curl_slist* grown = curl_slist_append(list.get(), line.c_str())) {
        (void)list.release();
        list.reset(grown);
    }
}

// Body and header bytes both land here; libcurl treats a short count as an error, which is how
// a body over its cap ends the transfer. The cap counts decoded bytes, so a compressed bomb
// stops at the cap too.
struct CappedText {
    std::string* text = nullptr;
    std::size_t cap = 0;
};

size_t AppendCapped(char* data, size_t size, size_t count, void* target) {
    if (target == nullptr) return 0;
    auto* sink = static_cast<CappedText*>(target);
    const size_t bytes = size * count;
    if (sink->text->size() + bytes > sink->cap) return 0;
    sink->text->append(data, bytes);
    return bytes;
}

bool IsHttpsUrl(const std::string& url) {
    std::string scheme = url.substr(0, 5);
    for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return scheme == "https";
}

// The jar keeps libcurl's cookie list one line each, without the HttpOnly marker.
std::string CookieJarText(const curl_slist* cookies) {
    std::string text;
    for (const curl_slist* item = cookies; item != nullptr; item = item->next) {
        text.append(CookieJarLine(item->data ? item->data : ""));
        text.push_back('\n');
    }
    return text;
}

void WriteWholeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return;  // an unwritable jar only costs the saved cookies
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

}  // namespace

CHttpClient::CHttpClient() = default;

bool CHttpClient::IsOversizedBody(int performResult) {
    return performResult == CURLE_WRITE_ERROR || performResult == CURLE_FILESIZE_EXCEEDED;
}

void CHttpClient::GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool CHttpClient::InstallTlsLocks() {
    // OpenSSL 3 brings its own thread safety; there is no lock table to install.
    return true;
}

void CHttpClient::RemoveTlsLocks() {}

int CHttpClient::Perform(std::string& body, std::string& headers) {
    body.clear();
    body.reserve(kBodyReserveBytes);
    headers.clear();
    headers.reserve(kHeadersReserveBytes);

    // Each POST body is meant for exactly one request, also when that request cannot be made.
    const std::string postBody = std::move(postData);
    postData.clear();

    GlobalInit();
    EasyHandle handle(curl_easy_init());
    if (!handle || url.empty()) return -1;
    CURL* const curl = handle.get();

    curl_easy_setopt(curl, CURLOPT_USERAGENT, userAgent.c_str());
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
    if (verbose) curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    // Timeouts must not use signals when several threads run transfers.
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, connectTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, timeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());

    if (IsHttpsUrl(url)) {
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    }

    if (!cookieHeader.empty()) curl_easy_setopt(curl, CURLOPT_COOKIE, cookieHeader.c_str());

    if (!cookieJarPath.empty()) {
        // An empty file name switches the cookie engine on without reading anything.
        curl_easy_setopt(curl, CURLOPT_COOKIEFILE, "");
        for (const std::string& piece : SplitCookieLines(cookieLines))
            curl_easy_setopt(curl, CURLOPT_COOKIELIST, piece.c_str());
    }

    StringList requestHeaders;
    AppendLine(requestHeaders, acceptHeader);
    AppendLine(requestHeaders, acceptLanguageHeader);
    AppendLine(requestHeaders, dntHeader);
    AppendLine(requestHeaders, connectionHeader);
    // Without this libcurl asks for "100-continue" before larger POST bodies.
    AppendLine(requestHeaders, "Expect:");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, requestHeaders.get());

    const std::string& sentReferer = referer.empty() ? url : referer;
    curl_easy_setopt(curl, CURLOPT_REFERER, sentReferer.c_str());

    if (!postBody.empty()) {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, postBody.c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(postBody.size()));
    }

    // A declared size over the cap is refused before any byte; the write callback catches the
    // rest (no declared size, or a compressed body that grows when decoded).
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxBodyBytes));
    CappedText bodySink{&body, maxBodyBytes};
    CappedText headerSink{&headers, kMaxHeaderBytes};
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &AppendCapped);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &AppendCapped);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &bodySink);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &headerSink);

    const CURLcode result = curl_easy_perform(curl);
    if (result != CURLE_OK) {
        // Nothing of a failed transfer is kept, so an oversized page never reaches a scan.
        body.clear();
        body.shrink_to_fit();
        return static_cast<int>(result);
    }

    // Header names are case-insensitive; servers on newer protocols send them in lower case.
    if (!noCookieSave && !cookieJarPath.empty() && FindNoCase(headers, "Set-Cookie:")) {
        curl_slist* rawCookies = nullptr;
        curl_easy_getinfo(curl, CURLINFO_COOKIELIST, &rawCookies);
        const StringList cookies(rawCookies);
        if (cookies) {
            const std::string text = CookieJarText(cookies.get());
            const std::lock_guard<std::mutex> guard(lock);
            if (cookieObserver) cookieObserver(text);
            WriteWholeFile(cookieJarPath, text);
        }
    }

    KeepFinalHeaderBlock(headers);

    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    responseCode = static_cast<int>(status);
    return 0;
}

}  // namespace velquist
