#pragma once
// ODBC / OLE DB connection texts: "Driver=SQL Server;Server=PC\sqlexpress;UID=;PWD=;DATABase=X".
// Keys are case-insensitive; the last occurrence of a key wins; values may be enclosed in {braces}.

#include <optional>
#include <string>
#include <vector>

namespace vopa::data {

class ConnectionString {
public:
    explicit ConnectionString(const std::string& text);

    // The value of the first of `keys` present (case-insensitive), or nullopt.
    std::optional<std::string> get(std::initializer_list<const char*> keys) const;

    std::string driver() const;    // "SQL Server", or empty
    std::string provider() const;  // "Microsoft.Jet.OLEDB.4.0", "SQLOLEDB", or empty
    std::string server() const;    // Server / Data Source / Address
    std::string database() const;  // Database / Initial Catalog
    std::string user() const;      // UID / User ID / ID utente
    std::string password() const;  // PWD / Password
    std::string dataSource() const;  // Data Source (the file of a Jet connection)

    const std::vector<std::pair<std::string, std::string>>& pairs() const { return pairs_; }

private:
    std::vector<std::pair<std::string, std::string>> pairs_;
};

}  // namespace vopa::data
