#pragma once
// A recordset: the rows of a statement or a table, with a current row, fields by name
// (case-insensitive) and, on an updatable one, adding, changing and deleting rows. An update changes
// exactly the row that was read, also in a table without a key.
//
// The rows are read when the recordset opens (a keyset: the set of rows is fixed then, the values of
// a row are read again after this recordset changes it).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Connection.h"
#include "DataError.h"

namespace vopa::data {

enum class CursorType { ForwardOnly = 0, Keyset = 1, Dynamic = 2, Static = 3 };
enum class LockType { ReadOnly = 1, Pessimistic = 2, Optimistic = 3, BatchOptimistic = 4 };

class Recordset {
public:
    Recordset() = default;
    ~Recordset();

    // Opens `source`, a statement or a table name, on an open connection.
    void open(const std::string& source, Connection& connection, CursorType cursor = CursorType::ForwardOnly,
              LockType lock = LockType::ReadOnly, int options = -1);
    // Opens on a connection of its own, made with `connectionString`.
    void open(const std::string& source, const std::string& connectionString,
              CursorType cursor = CursorType::ForwardOnly, LockType lock = LockType::ReadOnly, int options = -1);
    // Wraps rows already read (Connection::execute).
    void attach(ResultSet rows, Connection* connection);
    void close();  // 3704 when closed
    bool isOpen() const { return open_; }
    ObjectState state() const { return open_ ? ObjectState::Open : ObjectState::Closed; }

    bool eof() const;
    bool bof() const;
    void moveFirst();
    void moveLast();
    void moveNext();
    void movePrevious();
    std::int64_t recordCount() const;

    int fieldCount() const;
    std::string fieldName(int index) const;
    bool hasField(const std::string& name) const;
    // The current row's value of a field (3021 without a current row, 3265 for an unknown field).
    Value field(const std::string& name) const;
    Value field(int index) const;
    // Sets a field of the current (or new) row; sent by update().
    void setField(const std::string& name, const Value& value);

    void addNew();
    void update();
    void cancelUpdate();
    void deleteCurrent();

    // Shows only the rows matching `expression` ("id = 3", "NomeAzienda = 'X'", joined by AND/OR);
    // an empty text shows every row again.
    void setFilter(const std::string& expression);

    const ResultSet& rows() const { return rows_; }

private:
    void requireOpen() const;
    void requireCurrent() const;
    void requireUpdatable() const;
    int columnIndex(const std::string& name) const;
    bool matchesFilter(std::size_t row) const;
    void rebuildView();

    bool open_ = false;
    ResultSet rows_;
    std::vector<bool> deleted_;
    std::vector<std::size_t> view_;   // visible rows (filter, deletions) in order
    std::size_t position_ = 0;        // index into view_; == view_.size() at EOF
    bool beforeFirst_ = false;
    LockType lock_ = LockType::ReadOnly;
    Connection* connection_ = nullptr;
    std::unique_ptr<Connection> ownConnection_;
    std::vector<std::pair<std::string, Value>> pending_;
    bool adding_ = false;
    struct Condition {
        int column;
        std::string op;
        Value value;
        bool orWithPrevious;
    };
    std::vector<Condition> filter_;
};

}  // namespace vopa::data
