#pragma once
// The master database of an instance: the list of databases (sysdatabases) and their files
// (sysaltfiles), kept as ordinary system tables so that T-SQL can read them.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vopa::engine::storage {

class Connection;

struct DatabaseEntry {
    std::int64_t dbid = 0;
    std::string name;
    std::string dataFile;  // Windows path as given to CREATE DATABASE
    std::string logFile;
};

// Lays out a new master database (in the caller's transaction) and lists master itself in it.
void initialiseMaster(Connection& db, const std::string& schema, const std::string& masterFileWindows);

std::optional<DatabaseEntry> findDatabase(Connection& db, const std::string& schema, const std::string& name);
std::optional<DatabaseEntry> findDatabaseById(Connection& db, const std::string& schema, std::int64_t dbid);
std::vector<DatabaseEntry> listDatabases(Connection& db, const std::string& schema);
// Lists a new database; returns its dbid.
std::int64_t registerDatabase(Connection& db, const std::string& schema, const DatabaseEntry& entry,
                              const std::string& dataLogicalName, const std::string& logLogicalName);
void unregisterDatabase(Connection& db, const std::string& schema, std::int64_t dbid);

// The record beside master of the databases it lists (names and data files, master left out). A
// master that is lost or emptied is then told from a new instance wherever the databases' files lie.
// Written whole into a new file that then takes the old one's place (throws EngineError 3634 when it
// cannot be); read as empty when there is none (an instance made before the record was kept).
void writeDatabaseRecord(const std::filesystem::path& file, const std::vector<DatabaseEntry>& databases);
std::vector<DatabaseEntry> readDatabaseRecord(const std::filesystem::path& file);

}  // namespace vopa::engine::storage
