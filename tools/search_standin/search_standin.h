#pragma once

#include <memory>
#include <string>

#include "tools/search_standin/result_page.h"
#include "tools/search_standin/world.h"

namespace velquist::standin {

struct StandinOptions {
    std::string worldPath;  // JSON world file; when empty, worldJson; both empty: no world entries
    std::string worldJson;
    int port = 0;  // 0 picks a free port
    int rateLimitPerSecond =
        0;                 // per client (address + User-Agent), sliding one-second window; 0 = none
    int failEveryNth = 0;  // every Nth result-page request is answered with failStatus; 0 = never
    int failStatus = 503;
    int dropEveryNth = 0;       // every Nth result-page request gets no answer at all; 0 = never
    int lifetimeSeconds = 600;  // stops by itself after this long; 0 = only stop() ends it
};

// HTTPS server on 127.0.0.1 that answers result-page requests ("/s?...&q=KEYWORD[&pn=N]") with
// pages made from a world. Starts serving before start() returns; every answer is deterministic
// apart from the injected failures and throttling.
class SearchStandin {
  public:
    SearchStandin();
    ~SearchStandin();
    SearchStandin(const SearchStandin&) = delete;
    SearchStandin& operator=(const SearchStandin&) = delete;

    // False when the world cannot be read, the identity cannot be made or the port cannot be
    // bound; lastError() says why. An object starts once; a second start() fails.
    bool start(const StandinOptions& options);
    // Stops serving and waits for the server's threads; safe to call more than once.
    void stop();
    // False once stop() was called or the lifetime has run out.
    bool running() const;

    int port() const;
    std::string host() const;  // "127.0.0.1:PORT"
    std::string certificatePem() const;
    std::string lastError() const;

    // Requests that arrived, counted before any failure is injected.
    int requestCount() const;                                // every path
    int requestCountForPath(const std::string& path) const;  // e.g. "/s"
    int requestCountFor(const std::string& keyword) const;   // result pages, all page numbers
    int requestCountFor(const std::string& keyword, int pageNo) const;
    int verificationCount() const;  // verification pages served

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace velquist::standin
