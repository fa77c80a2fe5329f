// sp_getapplock and sp_releaseapplock: application locks owned by the session.
//
// A lock is one of the session's locks in the instance's lock file (storage/LockFile.h), so it
// conflicts with every other session, of this process or another, and disappears with the session
// or its process. Each resource (database, principal and name, the name compared as binary, as on
// the server) has two bytes at an offset drawn from a hash of the three: Shared and IntentShared read
// the first; Update reads the first and writes the second; Exclusive writes both. So two Shared
// locks, or Shared and Update, stand together, while two Update locks, or Exclusive and anything,
// do not.

#include <chrono>
#include <random>
#include <thread>

#include "platform/engine/SessionImpl.h"
#include "platform/engine/exec/Procedures.h"
#include "platform/engine/translate/Compiler.h"
#include "platform/text/Text.h"

namespace vopa::engine {
namespace {

using Mode = storage::LockFile::Mode;

// Lock modes in the order of their strength: a session asking again for a resource it holds gets
// the stronger of the two.
enum AppLockMode { kNone = 0, kIntentShared = 1, kShared = 2, kUpdate = 3, kExclusive = 4 };

// What a mode holds on each of the two bytes.
std::optional<Mode> firstByte(int mode) {
    if (mode == kNone) return std::nullopt;
    return mode == kExclusive ? Mode::Exclusive : Mode::Shared;
}
bool writesSecondByte(int mode) { return mode == kUpdate || mode == kExclusive; }

// Application locks lie far beyond the bytes that mark current databases (their dbids).
constexpr std::int64_t kAppLockBase = std::int64_t{1} << 40;

std::int64_t offsetOf(const std::string& key) {
    std::uint64_t h = 14695981039346656037ULL;  // FNV-1a
    for (unsigned char c : key) {
        h ^= c;
        h *= 1099511628211ULL;
    }
    return kAppLockBase + static_cast<std::int64_t>(h % (std::uint64_t{1} << 56)) * 2;
}

[[noreturn]] void invalidParameter(const std::string& procedure) {
    throw ProcedureError(-999, err::InvalidProcedureParameter,
                         "An invalid parameter or option was specified for procedure '" + procedure + "'.");
}

// @LockOwner: only 'Session' is run; 'Transaction' (the server's default) is refused.
void requireSessionOwner(Session::Impl& session, const sql::Expr* e, const std::string& procedure) {
    const std::optional<std::string> owner =
        e ? procedureTextArgument(session, e, 32) : std::optional<std::string>("Transaction");
    if (owner && text::equalsNoCase(*owner, "Session")) return;
    if (owner && text::equalsNoCase(*owner, "Transaction"))
        throw EngineError(err::NotSupported, "The embedded engine does not support application locks owned by a "
                                             "transaction (@LockOwner = 'Transaction'); use @LockOwner = 'Session'.");
    invalidParameter(procedure);
}

// @DbPrincipal: public (the default) or dbo, which every login of the engine is.
std::string principal(Session::Impl& session, const sql::Expr* e, const std::string& procedure) {
    if (!e) return "public";
    const std::optional<std::string> p = procedureTextArgument(session, e, 128);
    if (!p || !(text::equalsNoCase(*p, "public") || text::equalsNoCase(*p, "dbo"))) invalidParameter(procedure);
    return *p;
}

std::int64_t nowMillis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

int Session::Impl::getAppLock(const sql::ExecuteStatement& s) {
    const std::string procedure = "sp_getapplock";
    ProcedureParameters p(s, procedure, {"@Resource", "@LockMode", "@LockOwner", "@LockTimeout", "@DbPrincipal"});
    p.require(0);
    p.require(1);
    const std::optional<std::string> resource = procedureTextArgument(*this, p[0], 255);
    const std::optional<std::string> modeName = procedureTextArgument(*this, p[1], 32);
    requireSessionOwner(*this, p[2], procedure);
    std::int64_t timeout = lockTimeout;
    if (p[3]) {
        std::optional<Cell> t = procedureArgument(*this, p[3], SqlType::of(BaseType::Int));
        if (t) timeout = t->i;
    }
    const std::string owner = principal(*this, p[4], procedure);
    if (!resource || !modeName) invalidParameter(procedure);
    int mode = kNone;
    if (text::equalsNoCase(*modeName, "Shared")) mode = kShared;
    else if (text::equalsNoCase(*modeName, "Update")) mode = kUpdate;
    else if (text::equalsNoCase(*modeName, "IntentShared")) mode = kIntentShared;
    else if (text::equalsNoCase(*modeName, "Exclusive")) mode = kExclusive;
    else if (text::equalsNoCase(*modeName, "IntentExclusive"))
        throw EngineError(err::NotSupported,
                          "The embedded engine does not support the application lock mode IntentExclusive.");
    else invalidParameter(procedure);
    if (!locks_.isOpen())
        throw ProcedureError(-999, err::LockResourceUnavailable,
                             "The instance cannot obtain a LOCK resource at this time: its lock file cannot be "
                             "opened.");

    const std::string key = std::to_string(database("").dbid) + '\0' + text::toLower(owner) + '\0' + *resource;
    AppLock& held = appLocks_[key];
    held.offset = offsetOf(key);
    const int target = std::max(held.mode, mode);
    // Takes what `target` holds beyond what is held; on failure leaves the bytes as they were.
    auto tryTake = [&] {
        const bool second = writesSecondByte(target) && !writesSecondByte(held.mode);
        if (second && !locks_.tryLock(held.offset + 1, Mode::Exclusive)) return false;
        if (firstByte(target) != firstByte(held.mode) && !locks_.tryLock(held.offset, *firstByte(target))) {
            if (second) locks_.unlock(held.offset + 1);
            return false;
        }
        return true;
    };
    const std::int64_t start = nowMillis();
    // A session that holds other locks and has waited two to four seconds is taken for the victim of a
    // deadlock, as the engine's writers are (see storage::Connection).
    static thread_local std::mt19937 random{std::random_device{}()};
    const std::int64_t deadlockAfter = 2000 + static_cast<std::int64_t>(random() % 2000);
    const bool holdingOthers = appLocks_.size() > 1 || held.count > 0 || db->holdingLocks();
    for (int attempt = 0;; ++attempt) {
        if (tryTake()) {
            held.mode = target;
            ++held.count;
            return attempt == 0 ? 0 : 1;
        }
        const std::int64_t waited = nowMillis() - start;
        int status = 0;
        if (timeout >= 0 && waited >= timeout) status = -1;
        else if (holdingOthers && waited >= deadlockAfter) status = -3;
        if (status != 0) {
            if (held.count == 0) appLocks_.erase(key);
            return status;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(attempt < 10 ? 1 : attempt < 50 ? 5 : 20));
    }
}

int Session::Impl::releaseAppLock(const sql::ExecuteStatement& s) {
    const std::string procedure = "sp_releaseapplock";
    ProcedureParameters p(s, procedure, {"@Resource", "@LockOwner", "@DbPrincipal"});
    p.require(0);
    const std::optional<std::string> resource = procedureTextArgument(*this, p[0], 255);
    requireSessionOwner(*this, p[1], procedure);
    const std::string owner = principal(*this, p[2], procedure);
    if (!resource) invalidParameter(procedure);
    const std::string key = std::to_string(database("").dbid) + '\0' + text::toLower(owner) + '\0' + *resource;
    auto it = appLocks_.find(key);
    if (it == appLocks_.end())
        throw ProcedureError(-999, err::AppLockNotHeld,
                             "Cannot release the application lock (Database Principal: '" + owner + "', Resource: '" +
                                 *resource + "') because it is not currently held.");
    // The lock keeps its strongest mode until its last request is released.
    if (--it->second.count == 0) {
        locks_.unlock(it->second.offset);
        locks_.unlock(it->second.offset + 1);
        appLocks_.erase(it);
    }
    return 0;
}

}  // namespace vopa::engine
