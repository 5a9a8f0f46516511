#include "services/account_store.h"

#include "core/database.h"

namespace velquist {

namespace {

RememberedAccount ReadRow(const DbStatement& select, int firstColumn) {
    RememberedAccount account;
    account.name = select.columnText(firstColumn);
    account.passwordHash = select.columnText(firstColumn + 1);
    // Auto-login can only send a remembered hash; without one it would just fail at every start.
    account.autoLogin = select.columnInt(firstColumn + 2) != 0 && !account.passwordHash.empty();
    return account;
}

}  // namespace

std::vector<RememberedAccount> LoadRememberedAccounts(const std::string& databasePath) {
    std::vector<RememberedAccount> accounts;
    DbConnection db;
    if (!db.open(databasePath)) return accounts;
    // lasttime has whole seconds; of two logins in the same second the later row (REPLACE gives
    // it a new rowid) counts as the more recent.
    DbStatement select(db,
                       "select accname,accpwd,autologin from ZQLaccount "
                       "order by autologin desc, lasttime desc, rowid desc");
    for (int rc = select.step(); rc == kSqliteRow; rc = select.step()) {
        RememberedAccount account = ReadRow(select, 0);
        if (!account.name.empty()) accounts.push_back(std::move(account));
    }
    return accounts;
}

std::optional<RememberedAccount> FindRememberedAccount(const std::string& databasePath,
                                                       const std::string& name) {
    DbConnection db;
    if (!db.open(databasePath)) return std::nullopt;
    DbStatement select(db, "select accname,accpwd,autologin from ZQLaccount where accname=?");
    select.bindText(1, name);
    if (select.step() != kSqliteRow) return std::nullopt;
    return ReadRow(select, 0);
}

bool SetAutoLogin(const std::string& databasePath, const std::string& name, bool autoLogin) {
    DbConnection db;
    if (!db.open(databasePath)) return false;
    DbStatement update(db, "update ZQLaccount set autologin=? where accname=?");
    update.bindInt(1, autoLogin ? 1 : 0);
    update.bindText(2, name);
    if (!StepSucceeded(update.step())) return false;
    return ReadSingleInt(db, "select changes()") > 0;
}

bool SaveLoggedInAccount(const std::string& databasePath, const std::string& name,
                         const std::string& rememberedHash, bool autoLogin) {
    DbConnection db;
    if (!db.open(databasePath)) return false;
    DbStatement replace(db,
                        "REPLACE INTO ZQLaccount(accname,accpwd,autologin,lasttime)"
                        "VALUES(?,?,?,datetime('now','+8 hour'))");
    replace.bindText(1, name);
    replace.bindText(2, rememberedHash);
    replace.bindInt(3, autoLogin && !rememberedHash.empty() ? 1 : 0);
    return StepSucceeded(replace.step());
}

}  // namespace velquist
