#include "Logins.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <ctime>

#include "Sqlite.h"
#include "platform/engine/EngineError.h"
#include "platform/value/Value.h"

namespace vopa::engine::storage {
namespace {

constexpr const char* kTable = "__vopa_logins";
constexpr std::size_t kSaltBytes = 16;
constexpr std::size_t kKeyBytes = 32;

std::string table(const std::string& schema) { return quoteIdentifier(schema) + "." + quoteIdentifier(kTable); }

std::string derive(std::string_view password, const std::string& salt, std::int64_t iterations) {
    std::string key(kKeyBytes, '\0');
    if (iterations <= 0 || iterations > 0x7FFFFFFF ||
        PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                          reinterpret_cast<const unsigned char*>(salt.data()), static_cast<int>(salt.size()),
                          static_cast<int>(iterations), EVP_sha256(), static_cast<int>(key.size()),
                          reinterpret_cast<unsigned char*>(key.data())) != 1)
        throw EngineError(err::InternalError, "Internal error of the embedded engine: the password hash failed.");
    return key;
}

std::int64_t now() {
    return DateTime::fromParts(1970, 1, 1).millis + static_cast<std::int64_t>(std::time(nullptr)) * 1000;
}

const char* const kColumns =
    "principal_id, name, salt, iterations, password_key, is_disabled, default_database, is_policy_checked, "
    "is_expiration_checked, create_date, modify_date";

LoginEntry readLogin(Statement& q) {
    LoginEntry e;
    e.principalId = q.columnInt(0);
    e.name = q.columnText(1);
    if (!q.columnIsNull(4)) {
        e.hash.salt = q.columnText(2);
        e.hash.iterations = q.columnInt(3);
        e.hash.key = q.columnText(4);
    }
    e.disabled = q.columnInt(5) != 0;
    e.defaultDatabase = q.columnText(6);
    e.checkPolicy = q.columnInt(7) != 0;
    e.checkExpiration = q.columnInt(8) != 0;
    e.created = q.columnInt(9);
    e.modified = q.columnInt(10);
    return e;
}

// sa as a master without the logins table has it.
LoginEntry initialSa() {
    LoginEntry sa;
    sa.principalId = kSaPrincipalId;
    sa.name = "sa";
    sa.defaultDatabase = "master";
    sa.created = sa.modified = DateTime::fromParts(2000, 1, 1).millis;
    return sa;
}

void touch(Connection& db, const std::string& schema, std::int64_t principalId) {
    Statement q = db.prepare("UPDATE " + table(schema) + " SET modify_date = ?1 WHERE principal_id = ?2");
    q.bind(1, now()).bind(2, principalId).run();
}

}  // namespace

std::string PasswordHash::bytes() const {
    std::string out{'\x01', '\x00'};
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((iterations >> shift) & 0xFF));
    return out + salt + key;
}

PasswordHash hashPassword(std::string_view password) {
    PasswordHash h;
    h.salt.assign(kSaltBytes, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(h.salt.data()), static_cast<int>(h.salt.size())) != 1)
        throw EngineError(err::InternalError, "Internal error of the embedded engine: no random salt for the password.");
    h.iterations = kPasswordIterations;
    h.key = derive(password, h.salt, h.iterations);
    return h;
}

bool verifyPassword(const PasswordHash& hash, std::string_view password) {
    if (hash.empty() || hash.key.size() != kKeyBytes) {
        derive(password, std::string(kSaltBytes, '\0'), kPasswordIterations);
        return false;
    }
    const std::string key = derive(password, hash.salt, hash.iterations);
    return CRYPTO_memcmp(key.data(), hash.key.data(), kKeyBytes) == 0;
}

bool hasLoginTable(Connection& db, const std::string& schema) {
    Statement q = db.prepare("SELECT 1 FROM " + quoteIdentifier(schema) + ".sqlite_master WHERE type = 'table' AND name = ?1");
    q.bind(1, std::string_view(kTable));
    return q.step();
}

void ensureLoginTable(Connection& db, const std::string& schema) {
    if (hasLoginTable(db, schema)) return;
    db.exec("CREATE TABLE " + table(schema) +
            "(principal_id INTEGER PRIMARY KEY, name TEXT NOT NULL COLLATE VOPA_CI UNIQUE, salt BLOB, "
            "iterations INTEGER, password_key BLOB, is_disabled INTEGER NOT NULL DEFAULT 0, "
            "default_database TEXT NOT NULL, is_policy_checked INTEGER NOT NULL DEFAULT 1, "
            "is_expiration_checked INTEGER NOT NULL DEFAULT 0, create_date INTEGER NOT NULL, "
            "modify_date INTEGER NOT NULL)");
    const LoginEntry sa = initialSa();
    Statement put = db.prepare("INSERT INTO " + table(schema) +
                               "(principal_id, name, default_database, create_date, modify_date) VALUES (?1, ?2, ?3, ?4, ?4)");
    put.bind(1, sa.principalId).bind(2, sa.name).bind(3, sa.defaultDatabase).bind(4, sa.created).run();
}

std::optional<LoginEntry> findLogin(Connection& db, const std::string& schema, std::string_view name) {
    if (!hasLoginTable(db, schema)) {
        if (name.size() == 2 && (name[0] == 's' || name[0] == 'S') && (name[1] == 'a' || name[1] == 'A')) return initialSa();
        return std::nullopt;
    }
    Statement q = db.prepare(std::string("SELECT ") + kColumns + " FROM " + table(schema) + " WHERE name = ?1 COLLATE VOPA_CI");
    q.bind(1, name);
    if (!q.step()) return std::nullopt;
    return readLogin(q);
}

std::vector<LoginEntry> listLogins(Connection& db, const std::string& schema) {
    if (!hasLoginTable(db, schema)) return {initialSa()};
    Statement q = db.prepare(std::string("SELECT ") + kColumns + " FROM " + table(schema) + " ORDER BY principal_id");
    std::vector<LoginEntry> logins;
    while (q.step()) logins.push_back(readLogin(q));
    return logins;
}

std::int64_t createLogin(Connection& db, const std::string& schema, const LoginEntry& login) {
    // The server numbers the logins it creates from 256 on; lower ids are its own principals.
    std::int64_t id = 256;
    {
        Statement q = db.prepare("SELECT max(principal_id) FROM " + table(schema));
        if (q.step() && !q.columnIsNull(0)) id = std::max<std::int64_t>(id, q.columnInt(0) + 1);
    }
    const std::int64_t at = now();
    Statement put = db.prepare("INSERT INTO " + table(schema) + "(" + kColumns +
                               ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?10)");
    put.bind(1, id).bind(2, login.name);
    if (login.hash.empty()) {
        put.bindNull(3).bindNull(4).bindNull(5);
    } else {
        put.bindBlob(3, login.hash.salt).bind(4, login.hash.iterations).bindBlob(5, login.hash.key);
    }
    put.bind(6, std::int64_t{login.disabled}).bind(7, login.defaultDatabase).bind(8, std::int64_t{login.checkPolicy});
    put.bind(9, std::int64_t{login.checkExpiration}).bind(10, at).run();
    return id;
}

void setLoginPassword(Connection& db, const std::string& schema, std::int64_t principalId, const PasswordHash& hash) {
    Statement q = db.prepare("UPDATE " + table(schema) + " SET salt = ?1, iterations = ?2, password_key = ?3 WHERE principal_id = ?4");
    q.bindBlob(1, hash.salt).bind(2, hash.iterations).bindBlob(3, hash.key).bind(4, principalId).run();
    touch(db, schema, principalId);
}

void setLoginDisabled(Connection& db, const std::string& schema, std::int64_t principalId, bool disabled) {
    Statement q = db.prepare("UPDATE " + table(schema) + " SET is_disabled = ?1 WHERE principal_id = ?2");
    q.bind(1, std::int64_t{disabled}).bind(2, principalId).run();
    touch(db, schema, principalId);
}

void setLoginOptions(Connection& db, const std::string& schema, std::int64_t principalId,
                     const std::optional<std::string>& defaultDatabase, std::optional<bool> checkPolicy,
                     std::optional<bool> checkExpiration) {
    if (defaultDatabase) {
        Statement q = db.prepare("UPDATE " + table(schema) + " SET default_database = ?1 WHERE principal_id = ?2");
        q.bind(1, *defaultDatabase).bind(2, principalId).run();
    }
    if (checkPolicy) {
        Statement q = db.prepare("UPDATE " + table(schema) + " SET is_policy_checked = ?1 WHERE principal_id = ?2");
        q.bind(1, std::int64_t{*checkPolicy}).bind(2, principalId).run();
    }
    if (checkExpiration) {
        Statement q = db.prepare("UPDATE " + table(schema) + " SET is_expiration_checked = ?1 WHERE principal_id = ?2");
        q.bind(1, std::int64_t{*checkExpiration}).bind(2, principalId).run();
    }
    touch(db, schema, principalId);
}

void dropLogin(Connection& db, const std::string& schema, std::int64_t principalId) {
    Statement q = db.prepare("DELETE FROM " + table(schema) + " WHERE principal_id = ?1");
    q.bind(1, principalId).run();
}

}  // namespace vopa::engine::storage
