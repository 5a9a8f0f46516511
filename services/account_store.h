#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velquist {

// An account remembered in table ZQLaccount. `passwordHash` is the protocol's password hash
// (32 uppercase hex digits) when the user let the program remember it, else "".
struct RememberedAccount {
    std::string name;
    std::string passwordHash;
    bool autoLogin = false;
};

// The remembered accounts with a name, auto-login first, then the most recently used; the first
// one is the account the login offers. Empty when the table cannot be read.
std::vector<RememberedAccount> LoadRememberedAccounts(const std::string& databasePath);

// The row of `name`, or nullopt when there is none (or it cannot be read).
std::optional<RememberedAccount> FindRememberedAccount(const std::string& databasePath,
                                                       const std::string& name);

// Saves the auto-login choice of an existing row at once; false when nothing was written.
bool SetAutoLogin(const std::string& databasePath, const std::string& name, bool autoLogin);

// Records a successful login: the name, the hash when the password is to be remembered (else
// ""), the auto-login choice and the time. Auto-login needs the remembered password, so it is
// stored as off when there is none to send. False when the row could not be written.
bool SaveLoggedInAccount(const std::string& databasePath, const std::string& name,
                         const std::string& rememberedHash, bool autoLogin);

}  // namespace velquist
