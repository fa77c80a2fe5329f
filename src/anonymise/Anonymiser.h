#pragma once
// Replaces the personal data of a database (the training copy, never the company's) with pseudonyms,
// set-based and in statements SQL Server and the embedded engine both accept: each table's listed
// columns are read in one pass and the pseudonyms of their distinct values are drawn in the program.
// A table whose identities are unique gets its new values through a work table keyed by identity and
// one UPDATE ... FROM joined to it; any other table through work tables of its distinct values, looked
// up by value.

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "PersonalData.h"
#include "Pseudonyms.h"

namespace vopa::data {
class Connection;
}

namespace vopa::anonymise {

struct AnonymisedColumn {
    std::string table;
    std::string column;
    Kind kind = Kind::Name;
    long long rows = 0;  // rows whose value changed
};

// Told each table as its values are replaced: its name, its position (1-based) and the number of tables.
using ColumnProgress = std::function<void(const std::string& table, int index, int count)>;

// A failure that names the column; its text carries no value of the column.
class AnonymisationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Anonymises the database `connection` is open on: the columns of `list` that it has (a column the
// database lacks holds nothing to replace). Throws AnonymisationError.
std::vector<AnonymisedColumn> anonymiseDatabase(data::Connection& connection, Pseudonyms& pseudonyms,
                                                const std::vector<PersonalColumn>& list,
                                                const ColumnProgress& progress = {});

// `text` with what a server message may quote of a value ('...' and (...)) replaced by "…": for the
// notes and messages of an anonymised build, which must show no original value.
std::string withoutQuotedValues(const std::string& text);

}  // namespace vopa::anonymise
