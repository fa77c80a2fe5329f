#pragma once
// The instance's sa password as the network server sets it at its first start. Everything else about
// logins goes through T-SQL (CREATE LOGIN, ALTER LOGIN, DROP LOGIN, sys.sql_logins) and through
// Session's sign-in (Session.h).

#include <string>

#include "Server.h"

namespace vopa::engine {

// Whether sa has a password in the instance's master.
bool saHasPassword(const InstanceLocation& instance);

// Gives sa this password when it has none; false, changing nothing, when it has one already. An empty
// password is refused (EngineError 15118).
bool setSaPasswordIfUnset(const InstanceLocation& instance, const std::string& password);

}  // namespace vopa::engine
