#include "Recordset.h"

#include <cctype>
#include <cmath>

#include "Interruption.h"
#include "platform/text/Text.h"

namespace vopa::data {
namespace {

bool isPlainName(const std::string& source) {
    std::string s = source;
    while (!s.empty() && s.back() == ' ') s.pop_back();
    while (!s.empty() && s.front() == ' ') s.erase(s.begin());
    if (s.empty()) return false;
    if (s.front() == '[' && s.back() == ']' && s.size() >= 2) {
        // One bracketed name: every "]" inside it is doubled.
        for (std::size_t i = 1; i + 1 < s.size(); ++i)
            if (s[i] == ']' && (i + 2 >= s.size() || s[++i] != ']')) return false;
        return true;
    }
    for (unsigned char c : s)
        if (std::isspace(c) || c == '(' || c == '\'' || c == ';') return false;
    return true;
}

// Orders two values for a filter: numbers by number, dates by date, text case-insensitively.
int compareValues(const Value& a, const Value& b) {
    if (a.isNumeric() || a.kind() == Value::Kind::Boolean || b.isNumeric()) {
        double x = a.toDouble(), y = b.toDouble();
        return x < y ? -1 : x > y ? 1 : 0;
    }
    if (a.kind() == Value::Kind::Date && b.kind() == Value::Kind::Date)
        return a.asDate().millis < b.asDate().millis ? -1 : a.asDate().millis > b.asDate().millis ? 1 : 0;
    return text::compareNoCase(a.toString(), b.toString());
}

bool likeText(const std::string& value, const std::string& pattern) {
    // The filter's LIKE knows only a leading and/or trailing "*" or "%".
    std::string p = pattern;
    bool head = !p.empty() && (p.front() == '*' || p.front() == '%');
    bool tail = p.size() > (head ? 1u : 0u) && (p.back() == '*' || p.back() == '%');
    if (head) p.erase(p.begin());
    if (tail) p.pop_back();
    std::string v = text::toUpper(value), q = text::toUpper(p);
    if (head && tail) return v.find(q) != std::string::npos;
    if (head) return v.size() >= q.size() && v.compare(v.size() - q.size(), q.size(), q) == 0;
    if (tail) return v.rfind(q, 0) == 0;
    return v == q;
}

}  // namespace

Recordset::~Recordset() = default;

void Recordset::open(const std::string& source, Connection& connection, CursorType, LockType lock, int) {
    if (open_) throw DataError(errors::ObjectOpen, "Operation is not allowed when the object is open.");
    std::string statement = isPlainName(source) ? "SELECT * FROM " + source : source;
    checkInterruption();
    Provider::BatchResult result = connection.provider().execute(statement);
    lock_ = lock;
    connection_ = &connection;
    if (!result.rows) return;  // a statement without rows leaves the recordset closed
    attach(std::move(*result.rows), &connection);
    lock_ = lock;
}

void Recordset::open(const std::string& source, const std::string& connectionString, CursorType cursor,
                     LockType lock, int options) {
    auto own = std::make_unique<Connection>();
    own->open(connectionString);
    open(source, *own, cursor, lock, options);
    ownConnection_ = std::move(own);
    connection_ = ownConnection_.get();
}

void Recordset::attach(ResultSet rows, Connection* connection) {
    rows_ = std::move(rows);
    connection_ = connection;
    lock_ = LockType::ReadOnly;
    deleted_.assign(rows_.rows.size(), false);
    filter_.clear();
    pending_.clear();
    adding_ = false;
    open_ = true;
    rebuildView();
}

void Recordset::close() {
    requireOpen();
    if (!pending_.empty() || adding_)
        throw DataError(3219, "Operation is not allowed in this context.");
    open_ = false;
    rows_ = ResultSet();
    view_.clear();
    deleted_.clear();
    filter_.clear();
    ownConnection_.reset();
    connection_ = nullptr;
}

void Recordset::requireOpen() const {
    if (!open_) throw DataError(errors::ObjectClosed, "Operation is not allowed when the object is closed.");
}

void Recordset::requireCurrent() const {
    requireOpen();
    if (beforeFirst_ || position_ >= view_.size() || deleted_[view_[position_]])
        throw DataError(errors::NoCurrentRecord, "Either BOF or EOF is True, or the current record has been "
                                                 "deleted. Requested operation requires a current record.");
}

void Recordset::requireUpdatable() const {
    requireOpen();
    if (lock_ == LockType::ReadOnly || !rows_.updatable())
        throw DataError(errors::NotUpdatable, "Current Recordset does not support updating. This may be a limitation "
                                              "of the provider, or of the selected locktype.");
}

bool Recordset::eof() const {
    requireOpen();
    return position_ >= view_.size();
}

bool Recordset::bof() const {
    requireOpen();
    return view_.empty() || beforeFirst_;
}

void Recordset::moveFirst() {
    requireOpen();
    if (!pending_.empty() || adding_) update();
    position_ = 0;
    beforeFirst_ = false;
    while (position_ < view_.size() && deleted_[view_[position_]]) ++position_;
}

void Recordset::moveLast() {
    requireOpen();
    if (!pending_.empty() || adding_) update();
    beforeFirst_ = false;
    position_ = view_.size();
    while (position_ > 0) {
        --position_;
        if (!deleted_[view_[position_]]) return;
    }
    position_ = view_.size();
}

void Recordset::moveNext() {
    requireOpen();
    if (!pending_.empty() || adding_) update();
    if (position_ >= view_.size())
        throw DataError(errors::NoCurrentRecord, "Either BOF or EOF is True, or the current record has been "
                                                 "deleted. Requested operation requires a current record.");
    if (beforeFirst_) {
        beforeFirst_ = false;
        position_ = 0;
    } else {
        ++position_;
    }
    while (position_ < view_.size() && deleted_[view_[position_]]) ++position_;
}

void Recordset::movePrevious() {
    requireOpen();
    if (!pending_.empty() || adding_) update();
    while (true) {
        if (position_ == 0) {
            beforeFirst_ = true;
            return;
        }
        --position_;
        if (!deleted_[view_[position_]]) return;
    }
}

std::int64_t Recordset::recordCount() const {
    requireOpen();
    std::int64_t n = 0;
    for (std::size_t i : view_) n += deleted_[i] ? 0 : 1;
    return n;
}

int Recordset::fieldCount() const {
    requireOpen();
    return static_cast<int>(rows_.columns.size());
}

std::string Recordset::fieldName(int index) const {
    requireOpen();
    if (index < 0 || index >= fieldCount())
        throw DataError(errors::ItemNotFound, "Item cannot be found in the collection corresponding to the requested "
                                              "name or ordinal.");
    return rows_.columns[static_cast<std::size_t>(index)].name;
}

int Recordset::columnIndex(const std::string& name) const {
    int i = rows_.columnIndex(name);
    if (i < 0)
        throw DataError(errors::ItemNotFound, "Item cannot be found in the collection corresponding to the requested "
                                              "name or ordinal.");
    return i;
}

bool Recordset::hasField(const std::string& name) const {
    requireOpen();
    return rows_.columnIndex(name) >= 0;
}

Value Recordset::field(const std::string& name) const {
    requireOpen();
    return field(columnIndex(name));
}

Value Recordset::field(int index) const {
    requireOpen();
    if (index < 0 || index >= fieldCount())
        throw DataError(errors::ItemNotFound, "Item cannot be found in the collection corresponding to the requested "
                                              "name or ordinal.");
    const std::string& name = rows_.columns[static_cast<std::size_t>(index)].name;
    for (const auto& [n, v] : pending_)
        if (text::equalsNoCase(n, name)) return v;
    if (adding_) return Value::null();
    requireCurrent();
    return rows_.rows[view_[position_]][static_cast<std::size_t>(index)];
}

void Recordset::setField(const std::string& name, const Value& value) {
    requireUpdatable();
    if (!adding_) requireCurrent();
    int index = columnIndex(name);
    const std::string& column = rows_.columns[static_cast<std::size_t>(index)].name;
    for (auto& [n, v] : pending_)
        if (text::equalsNoCase(n, column)) {
            v = value;
            return;
        }
    pending_.emplace_back(column, value);
}

void Recordset::addNew() {
    requireUpdatable();
    if (!pending_.empty() || adding_) update();
    adding_ = true;
    pending_.clear();
}

void Recordset::update() {
    requireUpdatable();
    checkInterruption();
    Provider& provider = connection_->provider();
    if (adding_) {
        std::int64_t rowId = provider.insertRow(rows_, pending_);
        adding_ = false;
        pending_.clear();
        rows_.rows.push_back(provider.readRow(rows_, rowId));
        rows_.rowIds.push_back(rowId);
        deleted_.push_back(false);
        view_.push_back(rows_.rows.size() - 1);
        position_ = view_.size() - 1;
        beforeFirst_ = false;
        return;
    }
    if (pending_.empty()) return;
    requireCurrent();
    const std::size_t row = view_[position_];
    std::vector<std::pair<std::string, Value>> changes = std::move(pending_);
    pending_.clear();
    provider.updateRow(rows_, rows_.rowIds[row], changes);
    std::vector<Value> fresh = provider.readRow(rows_, rows_.rowIds[row]);
    // Computed columns keep what they showed; stored ones show what the table now holds.
    for (std::size_t i = 0; i < fresh.size(); ++i)
        if (rows_.columns[i].baseColumnId != 0) rows_.rows[row][i] = fresh[i];
}

void Recordset::cancelUpdate() {
    requireOpen();
    pending_.clear();
    adding_ = false;
}

void Recordset::deleteCurrent() {
    requireUpdatable();
    requireCurrent();
    const std::size_t row = view_[position_];
    connection_->provider().deleteRow(rows_, rows_.rowIds[row]);
    deleted_[row] = true;
}

void Recordset::setFilter(const std::string& expression) {
    requireOpen();
    filter_.clear();
    std::size_t pos = 0;
    const std::string& s = expression;
    auto skip = [&] {
        while (pos < s.size() && std::isspace(static_cast<unsigned char>(s[pos]))) ++pos;
    };
    auto word = [&] {
        skip();
        std::string w;
        if (pos < s.size() && s[pos] == '[') {
            std::size_t close = s.find(']', pos);
            w = s.substr(pos + 1, close - pos - 1);
            pos = close == std::string::npos ? s.size() : close + 1;
            return w;
        }
        while (pos < s.size() && !std::isspace(static_cast<unsigned char>(s[pos])) && s[pos] != '=' && s[pos] != '<' &&
               s[pos] != '>')
            w.push_back(s[pos++]);
        return w;
    };
    auto fail = [&] {
        throw DataError(3001, "Arguments are of the wrong type, are out of acceptable range, or are in conflict with "
                              "one another.");
    };
    bool orNext = false;
    while (true) {
        skip();
        if (pos >= s.size()) break;
        Condition c;
        c.orWithPrevious = orNext;
        std::string name = word();
        c.column = rows_.columnIndex(name);
        if (c.column < 0) fail();
        skip();
        std::string op;
        while (pos < s.size() && (s[pos] == '=' || s[pos] == '<' || s[pos] == '>')) op.push_back(s[pos++]);
        if (op.empty()) {
            op = text::toUpper(word());
            if (op != "LIKE") fail();
        }
        c.op = op;
        skip();
        if (pos < s.size() && (s[pos] == '\'' || s[pos] == '#')) {
            char quote = s[pos++];
            std::string v;
            while (pos < s.size()) {
                if (s[pos] == quote && pos + 1 < s.size() && s[pos + 1] == quote && quote == '\'') {
                    v.push_back(quote);
                    pos += 2;
                } else if (s[pos] == quote) {
                    ++pos;
                    break;
                } else {
                    v.push_back(s[pos++]);
                }
            }
            DateTime d;
            c.value = quote == '#' && DateTime::parse(v, d) ? Value::date(d) : Value::string(v);
        } else {
            std::string v = word();
            Decimal d;
            if (text::equalsNoCase(v, "NULL"))
                c.value = Value::null();
            else if (Decimal::parse(v, d))
                c.value = Value::decimal(d);
            else
                fail();
        }
        filter_.push_back(std::move(c));
        std::string connector = text::toUpper(word());
        if (connector.empty()) break;
        if (connector != "AND" && connector != "OR") fail();
        orNext = connector == "OR";
    }
    rebuildView();
}

bool Recordset::matchesFilter(std::size_t row) const {
    if (filter_.empty()) return true;
    // OR of AND-groups.
    bool any = false, group = true;
    for (std::size_t i = 0; i < filter_.size(); ++i) {
        const Condition& c = filter_[i];
        if (i > 0 && c.orWithPrevious) {
            any = any || group;
            group = true;
        }
        const Value& v = rows_.rows[row][static_cast<std::size_t>(c.column)];
        bool ok;
        if (c.value.isNull() || v.isNull()) {
            ok = (c.op == "=" && c.value.isNull() && v.isNull()) || (c.op == "<>" && c.value.isNull() != v.isNull());
        } else if (c.op == "LIKE") {
            ok = likeText(v.toString(), c.value.toString());
        } else {
            int cmp = compareValues(v, c.value);
            ok = c.op == "=" ? cmp == 0 : c.op == "<>" ? cmp != 0 : c.op == "<" ? cmp < 0 : c.op == ">" ? cmp > 0
                 : c.op == "<=" ? cmp <= 0 : c.op == ">=" ? cmp >= 0 : false;
        }
        group = group && ok;
    }
    return any || group;
}

void Recordset::rebuildView() {
    view_.clear();
    for (std::size_t i = 0; i < rows_.rows.size(); ++i)
        if (matchesFilter(i)) view_.push_back(i);
    position_ = 0;
    beforeFirst_ = false;
    while (position_ < view_.size() && deleted_[view_[position_]]) ++position_;
}

}  // namespace vopa::data
