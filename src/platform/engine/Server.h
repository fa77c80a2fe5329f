#pragma once
// Server instances of this machine. An instance is a folder on drive C: (through the drive mapper)
// holding its master database; the databases it lists may have their files anywhere on the drive.
//
//   "(local)", ".", "localhost", "127.0.0.1" and this computer's name    the default instance MSSQLSERVER,
//                                                                        which always exists
//   "<one of those>\NAME"                                                the named instance NAME, which
//                                                                        exists once created
//   any other host                                                       unreachable (error 17)

#include <filesystem>
#include <string>

namespace vopa::engine {

struct InstanceLocation {
    std::string instanceName;           // upper case, "MSSQLSERVER" for the default instance
    std::string dataFolderWindows;      // "C:\Program Files\Microsoft SQL Server\MSSQL.X\MSSQL\DATA"
    std::filesystem::path dataFolder;   // the same, mapped
    std::filesystem::path masterFile;
    std::filesystem::path lockFile;     // the sessions' locks (storage/LockFile.h)
    std::filesystem::path databaseRecord;  // beside master: the databases it lists (storage/Master.h)
};

// Finds the instance a server name designates; throws EngineError 17 when there is none. The default
// instance's master database is created on first use.
InstanceLocation locateInstance(const std::string& serverName);

// Creates a named instance of this machine (demo installation, query tool); nothing when it exists.
InstanceLocation createNamedInstance(const std::string& instanceName);

// True for the names that designate this machine.
bool isThisMachine(const std::string& host);

}  // namespace vopa::engine
