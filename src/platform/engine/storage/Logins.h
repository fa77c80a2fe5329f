#pragma once
// The instance's logins, kept in master in the engine's own table "__vopa_logins" (T-SQL cannot name
// it: the catalog views sys.sql_logins and sys.server_principals show it). A login has a name
// (unique, compared as the collation does), a password hash or none (sa has none until it is first
// given one), a disabled flag and a default database. The password itself is never stored: only a
// salted PBKDF2-HMAC-SHA256 hash, with its iteration count so that the count can be raised later.
//
// Every function works on the master database attached as `schema`, inside the caller's transaction.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vopa::engine::storage {

class Connection;

// A password hash: the random salt, the iteration count and the derived key.
struct PasswordHash {
    std::string salt;  // 16 random bytes
    std::int64_t iterations = 0;
    std::string key;  // 32 bytes
    bool empty() const { return key.empty(); }
    // The bytes sys.sql_logins shows as password_hash: 0x0100, the count (4 bytes), salt and key.
    std::string bytes() const;
};

// Iterations of a new hash: about 50 to 100 ms per check on an ordinary machine.
inline constexpr std::int64_t kPasswordIterations = 250000;

// A new hash of the password with a fresh random salt.
PasswordHash hashPassword(std::string_view password);
// Whether the password gives this hash (compared in constant time). An empty hash matches nothing,
// after as much work as a real check, so the time taken tells nothing.
bool verifyPassword(const PasswordHash& hash, std::string_view password);

struct LoginEntry {
    std::int64_t principalId = 0;  // 1 for sa
    std::string name;
    PasswordHash hash;  // empty: no password yet
    bool disabled = false;
    std::string defaultDatabase;
    bool checkPolicy = true;
    bool checkExpiration = false;
    std::int64_t created = 0;  // datetime milliseconds
    std::int64_t modified = 0;
};

inline constexpr std::int64_t kSaPrincipalId = 1;

// Whether master has the logins table (a master made before logins were kept has not).
bool hasLoginTable(Connection& db, const std::string& schema);
// Creates the table, with sa and no password, when it is missing.
void ensureLoginTable(Connection& db, const std::string& schema);

// Reading works on a master without the table too: it then holds only sa, without a password.
std::optional<LoginEntry> findLogin(Connection& db, const std::string& schema, std::string_view name);
std::vector<LoginEntry> listLogins(Connection& db, const std::string& schema);

// Writing needs ensureLoginTable first. Returns the new login's principal id.
std::int64_t createLogin(Connection& db, const std::string& schema, const LoginEntry& login);
void setLoginPassword(Connection& db, const std::string& schema, std::int64_t principalId, const PasswordHash& hash);
void setLoginDisabled(Connection& db, const std::string& schema, std::int64_t principalId, bool disabled);
void setLoginOptions(Connection& db, const std::string& schema, std::int64_t principalId,
                     const std::optional<std::string>& defaultDatabase, std::optional<bool> checkPolicy,
                     std::optional<bool> checkExpiration);
void dropLogin(Connection& db, const std::string& schema, std::int64_t principalId);

}  // namespace vopa::engine::storage
