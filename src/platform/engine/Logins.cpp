#include "Logins.h"

#include "EngineError.h"
#include "storage/Functions.h"
#include "storage/Logins.h"
#include "storage/Sqlite.h"

namespace vopa::engine {

bool saHasPassword(const InstanceLocation& instance) {
    storage::Connection db(instance.masterFile.string(), false);
    storage::registerCollation(db.handle());
    const std::optional<storage::LoginEntry> sa = storage::findLogin(db, "main", "sa");
    return sa && !sa->hash.empty();
}

bool setSaPasswordIfUnset(const InstanceLocation& instance, const std::string& password) {
    if (password.empty())
        throw EngineError(err::PasswordPolicy, "Password validation failed. The password does not meet the operating system policy "
                                 "requirements because it is not long enough.");
    // Hashed before the write lock is taken: the lock is held only for the write.
    const storage::PasswordHash hash = storage::hashPassword(password);
    storage::Connection db(instance.masterFile.string(), false);
    storage::registerCollation(db.handle());
    db.exec("BEGIN IMMEDIATE");
    try {
        storage::ensureLoginTable(db, "main");
        const std::optional<storage::LoginEntry> sa = storage::findLogin(db, "main", "sa");
        const bool unset = sa && sa->hash.empty();
        if (unset) storage::setLoginPassword(db, "main", sa->principalId, hash);
        db.exec("COMMIT");
        return unset;
    } catch (...) {
        db.exec("ROLLBACK");
        throw;
    }
}

}  // namespace vopa::engine
