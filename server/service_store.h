#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "server/password_vault.h"

namespace velquist::service {

// What a successful login tells the client about its account.
struct AccountProfile {
    std::string trueName;
    std::string companyName;
    std::string score = "0";
    std::string joinTime;  // "%Y-%m-%d %H:%M:%S", set when the account is made
    std::string levelName = "普通会员";
};

struct ServiceAccount {
    std::string name;
    std::string protocolHash;  // MD5 of the password, 32 uppercase hex digits; "" in lists
    AccountProfile profile;
};

struct FeedbackRecord {
    std::int64_t id = 0;
    std::string received;  // service's local time
    std::string address;
    std::string machine;  // the sender's machine identity, decoded
    std::string appVersion;
    std::string contact;
    std::string content;
    std::string cpu;
    std::string memory;
    std::string os;
};

struct UsageRecord {
    std::int64_t id = 0;
    std::string kind;  // "login" (start-up report) or "exit"
    std::string received;
    std::string address;
    std::string machine;  // an exit report's is its start-up report's
    std::string os;
    std::string ranklogid;
    std::string accinfo;
    std::int64_t loginId = 0;  // an exit report's start-up report; 0 when it names none
};

enum class AccountTextProblem { None, Empty, TooLong, NotText, EdgeBlanks, TooShort };

// A name is 1 to 64 characters of UTF-8 text without control characters or blanks at its ends.
AccountTextProblem CheckAccountName(const std::string& name);
// A password is 6 to 64 characters of UTF-8 text without control characters.
AccountTextProblem CheckPassword(const std::string& password);

// The service's SQLite file "service.db" and key file "service.key" in its data folder. The
// database runs in WAL mode with full synchronous commits, so whatever a request was answered
// for is on disk and a process killed in the middle of a write loses nothing it confirmed. Every
// operation opens its own connection: any thread, several at once.
class ServiceStore {
  public:
    static std::optional<ServiceStore> Open(const std::string& dataFolder, std::string& error);

    const std::string& databasePath() const { return m_databasePath; }

    enum class Write { Done, Exists, Missing, Refused, Failed };

    // Refused when the name or password does not pass the checks above.
    Write addAccount(const std::string& name, const std::string& password, AccountProfile profile);
    Write setPassword(const std::string& name, const std::string& password);
    std::optional<ServiceAccount> findAccount(const std::string& name) const;
    std::vector<ServiceAccount> listAccounts() const;

    enum class Claim { Fresh, Replayed, Failed };
    // Notes that `name` used `token` in `scope` (a login's time hash; for feedback the time hash
    // with the digest of the request); Replayed when it had before.
    Claim claimTimeHash(const std::string& scope, const std::string& name,
                        const std::string& token);

    bool addFeedback(const FeedbackRecord& record);
    std::vector<FeedbackRecord> listFeedback() const;

    // Stores a start-up report and gives it its ids (ranklogid = row id, accinfo = a random
    // token); nullopt when it could not be stored.
    std::optional<UsageRecord> addLoginReport(const std::string& address,
                                              const std::string& machine, const std::string& os);
    // Stores an exit report, tied to its start-up report when both ids match one.
    std::optional<UsageRecord> addExitReport(const std::string& address, const std::string& os,
                                             const std::string& ranklogid,
                                             const std::string& accinfo);
    std::vector<UsageRecord> listUsage() const;

  private:
    ServiceStore(std::string databasePath, PasswordVault vault)
        : m_databasePath(std::move(databasePath)), m_vault(std::move(vault)) {}
    std::string m_databasePath;
    PasswordVault m_vault;
};

}  // namespace velquist::service
