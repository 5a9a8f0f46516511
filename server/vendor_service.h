#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "server/login_throttle.h"

namespace velquist::service {

struct ServiceOptions {
    std::string dataFolder;  // service.db and service.key
    std::string listenAddress = "127.0.0.1";
    int port = 0;             // 0 picks a free port
    int lifetimeSeconds = 0;  // stops by itself after this long; 0: only stop() ends it
    // A larger request body is refused unread.
    std::size_t maxBodyBytes = 64 * 1024;
    LoginThrottle::Settings throttle;
    // One line for each refused request, from the server's threads; may be empty.
    std::function<void(const std::string&)> log;
};

// The vendor's web services in one HTTP server over its own SQLite file: the account service
// (login, registration and lost-password pages, user-agent exchange), the statistics service
// (feedback), the report service (usage reports) and the download service (update check and
// packages), each on its path. Starts serving before
// start() returns; stop() and the destructor wait for its threads.
class VendorService {
  public:
    VendorService();
    ~VendorService();
    VendorService(const VendorService&) = delete;
    VendorService& operator=(const VendorService&) = delete;

    // False when the store cannot be opened or the address cannot be bound; lastError() says
    // why. An object starts once.
    bool start(const ServiceOptions& options);
    void stop();
    // False once stop() was called or the lifetime has run out.
    bool running() const;

    int port() const;
    std::string host() const;  // "ADDRESS:PORT"
    std::string lastError() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace velquist::service
