// CREATE LOGIN, ALTER LOGIN and DROP LOGIN: the logins kept in master (storage/Logins.h), and the
// sign-in of a session opened for a login.

#include "platform/engine/SessionImpl.h"
#include "platform/engine/storage/Logins.h"
#include "platform/engine/storage/Master.h"
#include "platform/text/Text.h"

namespace vopa::engine {
namespace {

using Action = sql::LoginStatement::Action;

EngineError loginFailed(const std::string& user, const std::string& reason) {
    // The reason is for the server's own log; a client is told only the first sentence.
    return EngineError(err::LoginFailed, "Login failed for user '" + user + "'. Reason: " + reason, 14, 1);
}

EngineError noPermission() {
    return EngineError(err::NoPermission, "User does not have permission to perform this action.");
}

EngineError missingOrDenied(const char* verb, const std::string& name) {
    return EngineError(err::LoginMissingOrDenied, std::string("Cannot ") + verb + " the login '" + name +
                                                      "', because it does not exist or you do not have permission.");
}

EngineError tooShort() {
    return EngineError(err::PasswordPolicy,
                       "Password validation failed. The password does not meet the operating system policy "
                       "requirements because it is not long enough.");
}

}  // namespace

void Session::Impl::signIn(const ConnectOptions& options, SignIn how) {
    std::optional<storage::LoginEntry> entry = storage::findLogin(*db, "d1", options.user);
    if (how == SignIn::CheckPassword) {
        // The hash is computed whether or not the login exists, so the time taken tells nothing.
        const bool matches = storage::verifyPassword(entry ? entry->hash : storage::PasswordHash{}, options.password);
        if (!entry) throw loginFailed(options.user, "Could not find a login matching the name provided.");
        if (entry->hash.empty()) throw loginFailed(options.user, "The login has no password yet.");
        if (!matches) throw loginFailed(options.user, "Password did not match that for the login provided.");
    } else if (!entry) {
        throw loginFailed(options.user, "Could not find a login matching the name provided.");
    }
    if (entry->disabled) throw loginFailed(options.user, "The account is disabled.");
    login = entry->name;
    loginPrincipalId = entry->principalId;
    loginDefaultDatabase = entry->defaultDatabase;
}

std::string Session::Impl::passwordText(const sql::Expr& e) {
    if (e.kind != sql::Expr::Kind::Variable) return e.text;
    const BatchVariable& v = variable(e.text, e.offset);
    switch (v.value.kind) {
        case Cell::Kind::Text:
        case Cell::Kind::Blob: return v.value.s;
        case Cell::Kind::Integer: return std::to_string(v.value.i);
        default: throw EngineError(err::NotSupported, "The embedded engine does not support a NULL or numeric password.");
    }
}

void Session::Impl::execLogin(const sql::LoginStatement& s, StatementOutcome&) {
    const bool admin = mayManageLogins();
    const char* verb = s.action == Action::Create ? "create" : s.action == Action::Drop ? "drop" : "alter";
    const bool own = !login.empty() && text::equalsNoCase(login, s.name);
    if (s.action == Action::Create && !admin) throw noPermission();
    if (!admin) {
        // A login other than sa may change its own password (giving the old one) and default database.
        const bool allowed = own && s.action == Action::Alter && !s.checkPolicy && !s.checkExpiration &&
                             (!s.password || s.oldPassword);
        if (!allowed) throw missingOrDenied(verb, s.name);
    }
    if (text::equalsNoCase(s.name, "sa") && s.action == Action::Drop)
        throw EngineError(err::SpecialPrincipal, "Cannot use the special principal 'sa'.");

    const std::optional<std::string> password = s.password ? std::optional(passwordText(*s.password)) : std::nullopt;
    const std::optional<std::string> oldPassword =
        s.oldPassword ? std::optional(passwordText(*s.oldPassword)) : std::nullopt;
    std::optional<std::string> defaultDatabase;
    if (s.defaultDatabase) {
        if (text::equalsNoCase(*s.defaultDatabase, "master")) {
            defaultDatabase = "master";
        } else if (std::optional<storage::DatabaseEntry> d = storage::findDatabase(*db, "d1", *s.defaultDatabase)) {
            defaultDatabase = d->name;
        } else {
            throw EngineError(err::OptionDatabaseMissing,
                              "The database '" + *s.defaultDatabase +
                                  "' does not exist. Supply a valid database name. To see available databases, use "
                                  "sys.databases.");
        }
    }

    // Hashes are worked out before master's write lock is taken, so the lock is held only for the write.
    std::optional<storage::LoginEntry> before = storage::findLogin(*db, "d1", s.name);
    if (s.action != Action::Create && !before) throw missingOrDenied(verb, s.name);
    if (s.action == Action::Create && before)
        throw EngineError(err::PrincipalExists, "The server principal '" + s.name + "' already exists.", 16, 2);
    if (oldPassword && !storage::verifyPassword(before->hash, *oldPassword)) throw missingOrDenied(verb, s.name);
    const bool policy = s.checkPolicy.value_or(before ? before->checkPolicy : true);
    if (password && password->empty() && policy) throw tooShort();
    const storage::PasswordHash hash = password ? storage::hashPassword(*password) : storage::PasswordHash{};

    database("master");  // the logins are written under master's write lock
    atomically([&] {
        storage::ensureLoginTable(*db, "d1");
        const std::optional<storage::LoginEntry> current = storage::findLogin(*db, "d1", s.name);
        switch (s.action) {
            case Action::Create: {
                if (current)
                    throw EngineError(err::PrincipalExists, "The server principal '" + s.name + "' already exists.", 16, 2);
                storage::LoginEntry entry;
                entry.name = s.name;
                entry.hash = hash;
                entry.defaultDatabase = defaultDatabase.value_or("master");
                entry.checkPolicy = policy;
                entry.checkExpiration = s.checkExpiration.value_or(false);
                storage::createLogin(*db, "d1", entry);
                return;
            }
            case Action::Drop:
                if (!current) throw missingOrDenied(verb, s.name);
                storage::dropLogin(*db, "d1", current->principalId);
                return;
            case Action::Enable:
            case Action::Disable:
                if (!current) throw missingOrDenied(verb, s.name);
                storage::setLoginDisabled(*db, "d1", current->principalId, s.action == Action::Disable);
                return;
            case Action::Alter:
                if (!current) throw missingOrDenied(verb, s.name);
                // The old password was checked against the hash read before the lock: a change in between
                // makes it stale.
                if (oldPassword && current->hash.key != before->hash.key) throw missingOrDenied(verb, s.name);
                if (password) storage::setLoginPassword(*db, "d1", current->principalId, hash);
                if (defaultDatabase || s.checkPolicy || s.checkExpiration)
                    storage::setLoginOptions(*db, "d1", current->principalId, defaultDatabase, s.checkPolicy,
                                             s.checkExpiration);
                return;
        }
    });
}

}  // namespace vopa::engine
