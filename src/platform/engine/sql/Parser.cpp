#include "Parser.h"

#include <charconv>
#include <initializer_list>

#include "Lexer.h"
#include "platform/engine/EngineError.h"
#include "platform/text/Text.h"

namespace vopa::engine::sql {
namespace {

// SQL Server's numbers for the few faults that are not plain syntax errors.
constexpr int kCreateViewNotFirst = 111;   // 'CREATE VIEW' must be the first statement in a query batch.
constexpr int kDropIndexNeedsTable = 159;  // Must specify the table name and index name for DROP INDEX.
constexpr int kNestedTooDeeply = 191;      // Some part of your SQL statement is nested too deeply.

// Limits that keep the parser (and whoever walks the tree) off the end of the stack. Nesting counts
// parentheses, subqueries, nested statements and prefix operators; a chain is a run of left-associative
// binary operators, joins or UNIONs, each of which makes the tree one level deeper.
constexpr int kMaxNesting = 128;
constexpr int kMaxChain = 2048;

using Kind = Expr::Kind;
using LiteralKind = Expr::LiteralKind;

bool isKw(const Token& t, std::string_view kw) {
    return t.kind == TokenKind::Keyword && t.upper == kw;
}
bool isWord(const Token& t, std::string_view w) {
    return t.kind == TokenKind::Identifier && t.upper == w;
}
bool isOp(const Token& t, std::string_view op) {
    return t.kind == TokenKind::Operator && t.text == op;
}
bool isName(const Token& t) {
    return t.kind == TokenKind::Identifier || t.kind == TokenKind::QuotedIdentifier;
}
bool isString(const Token& t) {
    return t.kind == TokenKind::String || t.kind == TokenKind::NString;
}
bool isNumber(const Token& t) {
    return t.kind == TokenKind::Integer || t.kind == TokenKind::Decimal || t.kind == TokenKind::Float ||
           t.kind == TokenKind::Money;
}
bool isLiteral(const Token& t) {
    return isNumber(t) || isString(t) || t.kind == TokenKind::Binary;
}

bool isKwOneOf(const Token& t, std::initializer_list<std::string_view> kws) {
    for (auto kw : kws)
        if (isKw(t, kw)) return true;
    return false;
}
bool isWordOneOf(const Token& t, std::initializer_list<std::string_view> words) {
    for (auto w : words)
        if (isWord(t, w)) return true;
    return false;
}

bool isComparison(const Token& t) {
    if (t.kind != TokenKind::Operator) return false;
    const std::string& s = t.text;
    return s == "=" || s == "<>" || s == "!=" || s == "<" || s == "<=" || s == ">" || s == ">=" || s == "!<" ||
           s == "!>";
}

bool isCompoundAssignment(const Token& t) {
    return t.kind == TokenKind::Operator && t.text.size() == 2 && t.text[1] == '=' &&
           std::string_view("+-*/%&|^").find(t.text[0]) != std::string_view::npos;
}

LiteralKind literalKindOf(TokenKind k) {
    switch (k) {
        case TokenKind::Integer:
            return LiteralKind::Integer;
        case TokenKind::Decimal:
            return LiteralKind::Decimal;
        case TokenKind::Float:
            return LiteralKind::Float;
        case TokenKind::Money:
            return LiteralKind::Money;
        case TokenKind::String:
            return LiteralKind::String;
        case TokenKind::NString:
            return LiteralKind::NString;
        case TokenKind::Binary:
            return LiteralKind::Binary;
        default:
            return LiteralKind::Null;
    }
}

ExprPtr makeExpr(Kind kind, std::size_t offset) {
    auto e = std::make_unique<Expr>();
    e->kind = kind;
    e->offset = offset;
    return e;
}

ExprPtr makeBinary(std::string op, ExprPtr left, ExprPtr right) {
    auto e = makeExpr(Kind::Binary, left->offset);
    e->op = std::move(op);
    e->args.push_back(std::move(left));
    e->args.push_back(std::move(right));
    return e;
}

ExprPtr makeUnary(std::string op, ExprPtr operand, std::size_t offset) {
    auto e = makeExpr(Kind::Unary, offset);
    e->op = std::move(op);
    e->args.push_back(std::move(operand));
    return e;
}

ExprPtr makeColumn(QualifiedName name) {
    auto e = makeExpr(Kind::Column, name.offset);
    e->name = std::move(name);
    return e;
}

// Table hints that may be written in the old form without WITH: FROM t (NOLOCK).
bool isTableHintWord(const Token& t) {
    return isKw(t, "HOLDLOCK") ||
           isWordOneOf(t, {"NOLOCK", "READUNCOMMITTED", "READCOMMITTED", "REPEATABLEREAD", "SERIALIZABLE", "UPDLOCK",
                           "XLOCK", "ROWLOCK", "PAGLOCK", "TABLOCK", "TABLOCKX", "READPAST", "NOWAIT",
                           "READCOMMITTEDLOCK", "FASTFIRSTROW"});
}

// Index options that SQL Server 2000 scripts write without parentheses: WITH PAD_INDEX, FILLFACTOR = 90.
bool isLegacyIndexOption(const Token& t) {
    return isKw(t, "FILLFACTOR") ||
           isWordOneOf(t, {"PAD_INDEX", "IGNORE_DUP_KEY", "DROP_EXISTING", "STATISTICS_NORECOMPUTE", "SORT_IN_TEMPDB",
                           "ALLOW_DUP_ROW", "IGNORE_DUP_ROW"});
}

class Parser {
public:
    explicit Parser(std::string_view text) : src_(text), toks_(tokenize(text)) {}

    std::vector<StatementPtr> batch() {
        std::vector<StatementPtr> out;
        for (;;) {
            while (acceptOp(";")) {
            }
            if (cur().kind == TokenKind::End) break;
            out.push_back(statement(out.empty()));
        }
        return out;
    }

    ExprPtr expressionOnly() {
        auto e = expr();
        if (cur().kind != TokenKind::End) failHere();
        return e;
    }

    std::unique_ptr<SelectStmt> selectOnly() {
        auto q = query();
        while (acceptOp(";")) {
        }
        if (cur().kind != TokenKind::End) failHere();
        return q;
    }

private:
    // ---- guards -----------------------------------------------------------------------------------

    class Nesting {
    public:
        explicit Nesting(Parser& p) : p_(p) {
            if (++p_.nesting_ > kMaxNesting) {
                --p_.nesting_;
                p_.tooDeep();
            }
        }
        ~Nesting() { --p_.nesting_; }
        Nesting(const Nesting&) = delete;
        Nesting& operator=(const Nesting&) = delete;

    private:
        Parser& p_;
    };

    class Chain {
    public:
        explicit Chain(Parser& p) : p_(p) {}
        ~Chain() { p_.chain_ -= count_; }
        Chain(const Chain&) = delete;
        Chain& operator=(const Chain&) = delete;
        void add() {
            ++count_;
            if (++p_.chain_ > kMaxChain) p_.tooDeep();
        }

    private:
        Parser& p_;
        int count_ = 0;
    };

    [[noreturn]] void tooDeep() {
        throw EngineError(kNestedTooDeeply,
                          "Some part of your SQL statement is nested too deeply. Rewrite the query or break it "
                          "down into smaller queries.");
    }

    // ---- tokens -----------------------------------------------------------------------------------

    const Token& cur() const { return toks_[pos_]; }
    const Token& peek(std::size_t n = 1) const {
        std::size_t i = pos_ + n;
        return toks_[i < toks_.size() ? i : toks_.size() - 1];
    }
    const Token& advance() {
        const Token& t = toks_[pos_];
        if (t.kind != TokenKind::End) {
            ++pos_;
            lastEnd_ = t.end;
        }
        return t;
    }

    bool atKw(std::string_view kw) const { return isKw(cur(), kw); }
    bool atOp(std::string_view op) const { return isOp(cur(), op); }
    bool atWord(std::string_view w) const { return isWord(cur(), w); }
    bool atName() const { return isName(cur()); }

    bool acceptKw(std::string_view kw) {
        if (!atKw(kw)) return false;
        advance();
        return true;
    }
    bool acceptOp(std::string_view op) {
        if (!atOp(op)) return false;
        advance();
        return true;
    }
    bool acceptWord(std::string_view w) {
        if (!atWord(w)) return false;
        advance();
        return true;
    }
    void expectKw(std::string_view kw) {
        if (!acceptKw(kw)) failHere();
    }
    void expectOp(std::string_view op) {
        if (!acceptOp(op)) failHere();
    }
    void expectWord(std::string_view w) {
        if (!acceptWord(w)) failHere();
    }

    std::string slice(std::size_t from, std::size_t to) const { return std::string(src_.substr(from, to - from)); }

    // ---- errors -----------------------------------------------------------------------------------

    // The token as SQL Server names it in a message: names without brackets, strings without quotes,
    // everything else as written.
    std::string display(const Token& t) const {
        switch (t.kind) {
            case TokenKind::Identifier:
            case TokenKind::QuotedIdentifier:
            case TokenKind::String:
            case TokenKind::NString:
            case TokenKind::Variable:
            case TokenKind::Operator:
            case TokenKind::Invalid:
                return t.text;
            default:
                return slice(t.offset, t.end);
        }
    }

    [[noreturn]] void fail(const Token& t) const {
        if (t.kind == TokenKind::Error) throw EngineError(t.errorNumber, t.text);
        if (t.kind == TokenKind::End) {
            std::string last = toks_.size() >= 2 ? display(toks_[toks_.size() - 2]) : std::string();
            throw EngineError(err::SyntaxNear, "Incorrect syntax near '" + last + "'.");
        }
        if (t.kind == TokenKind::Keyword)
            throw EngineError(err::SyntaxNearKeyword, "Incorrect syntax near the keyword '" + display(t) + "'.");
        throw EngineError(err::SyntaxNear, "Incorrect syntax near '" + display(t) + "'.");
    }
    [[noreturn]] void failHere() const { fail(cur()); }

    [[noreturn]] static void notSupported(const std::string& what) {
        throw EngineError(err::NotSupported, "The embedded engine does not support " + what + ".");
    }

    // ---- names ------------------------------------------------------------------------------------

    std::string name() {
        if (!atName()) failHere();
        return advance().text;
    }

    // a.b.c, [a].[b].[c], db..t (the missing schema becomes an empty part).
    QualifiedName qualifiedName() {
        QualifiedName q;
        q.offset = cur().offset;
        q.parts.push_back(name());
        while (atOp(".")) {
            advance();
            while (atOp(".")) {
                advance();
                q.parts.emplace_back();
            }
            q.parts.push_back(name());
        }
        return q;
    }

    std::vector<std::string> nameList() {
        std::vector<std::string> names;
        expectOp("(");
        do {
            names.push_back(name());
        } while (acceptOp(","));
        expectOp(")");
        return names;
    }

    std::string nameOrString() {
        if (isString(cur())) return advance().text;
        return name();
    }

    int integer() {
        const Token& t = cur();
        if (t.kind != TokenKind::Integer) failHere();
        int value = 0;
        auto [p, ec] = std::from_chars(t.text.data(), t.text.data() + t.text.size(), value);
        if (ec != std::errc() || p != t.text.data() + t.text.size()) failHere();
        advance();
        return value;
    }

    std::int64_t signedInteger() {
        bool negative = false;
        if (atOp("-") || atOp("+")) negative = advance().text == "-";
        const Token& t = cur();
        if (t.kind != TokenKind::Integer) failHere();
        std::int64_t value = 0;
        auto [p, ec] = std::from_chars(t.text.data(), t.text.data() + t.text.size(), value);
        if (ec != std::errc() || p != t.text.data() + t.text.size()) failHere();
        advance();
        return negative ? -value : value;
    }

    // ---- statements -------------------------------------------------------------------------------

    StatementPtr statement(bool batchStart) {
        Nesting guard(*this);
        const Token& t = cur();
        std::size_t start = t.offset;
        StatementPtr st;
        if (t.kind == TokenKind::Keyword) {
            st = keywordStatement(batchStart);
        } else if (isOp(t, "(")) {
            st = selectStatement();
        } else if (isName(t)) {
            if (isOp(peek(), ":")) notSupported("GOTO labels");
            // SQL Server takes a bare procedure name as EXEC only at the start of a batch.
            if (!batchStart) failHere();
            st = executeBody();
        } else {
            failHere();
        }
        st->offset = start;
        st->endOffset = lastEnd_;
        return st;
    }

    StatementPtr keywordStatement(bool batchStart) {
        const std::string& k = cur().upper;
        if (k == "SELECT") return selectStatement();
        if (k == "INSERT") return insertStatement();
        if (k == "UPDATE") return updateStatement();
        if (k == "DELETE") return deleteStatement();
        if (k == "TRUNCATE") return truncateStatement();
        if (k == "CREATE") return createStatement(batchStart);
        if (k == "ALTER") return alterStatement();
        if (k == "DROP") return dropStatement();
        if (k == "IF") return ifStatement();
        if (k == "BEGIN") return beginStatement();
        if (k == "COMMIT") return endTransaction(TransactionStatement::Action::Commit);
        if (k == "ROLLBACK") return endTransaction(TransactionStatement::Action::Rollback);
        if (k == "SET") return setStatement();
        if (k == "EXEC" || k == "EXECUTE") return executeStatement();
        if (k == "RECONFIGURE") return reconfigureStatement();
        if (k == "USE") return useStatement();

        if (k == "WITH") notSupported("common table expressions (WITH)");
        if (k == "DECLARE") notSupported("DECLARE");
        if (k == "WHILE") notSupported("WHILE");
        if (k == "GOTO") notSupported("GOTO");
        if (k == "RETURN") notSupported("RETURN");
        if (k == "BREAK" || k == "CONTINUE") notSupported(k);
        if (k == "PRINT") notSupported("PRINT");
        if (k == "RAISERROR") notSupported("RAISERROR");
        if (k == "MERGE") notSupported("MERGE");
        if (k == "OPEN" || k == "CLOSE" || k == "FETCH" || k == "DEALLOCATE") notSupported("cursors");
        if (k == "GRANT" || k == "DENY" || k == "REVOKE") notSupported("permission statements (" + k + ")");
        if (k == "BACKUP" || k == "RESTORE" || k == "DUMP" || k == "LOAD") notSupported(k);
        if (k == "DBCC") notSupported("DBCC");
        if (k == "KILL") notSupported("KILL");
        if (k == "WAITFOR") notSupported("WAITFOR");
        if (k == "BULK") notSupported("BULK INSERT");
        if (k == "CHECKPOINT" || k == "SHUTDOWN") notSupported(k);
        if (k == "READTEXT" || k == "WRITETEXT" || k == "UPDATETEXT") notSupported(k);
        if (k == "SETUSER" || k == "REVERT") notSupported(k);
        if (k == "SAVE") notSupported("savepoints (SAVE TRANSACTION)");
        failHere();
    }

    StatementPtr selectStatement() {
        auto st = std::make_unique<SelectStatement>();
        st->select = std::move(*query());
        return st;
    }

    // ---- SELECT -----------------------------------------------------------------------------------

    // query := term { (UNION [ALL] | EXCEPT | INTERSECT) term } [ORDER BY ...]; term := SELECT ... | ( query )
    std::unique_ptr<SelectStmt> query() {
        Nesting guard(*this);
        auto head = queryTerm();
        SelectStmt* tail = head.get();
        while (tail->unionNext) tail = tail->unionNext.get();
        Chain chain(*this);
        while (atKw("UNION") || atKw("EXCEPT") || atKw("INTERSECT")) {
            // The chain is flat (the translator applies INTERSECT before UNION and EXCEPT), so only a
            // plain SELECT can follow; ORDER BY inside parentheses would belong to a TOP that the chain
            // cannot express.
            if (!head->orderBy.empty()) notSupported("ORDER BY inside a parenthesized part of a UNION");
            SelectStmt::SetOperator op = SelectStmt::SetOperator::Union;
            if (acceptKw("UNION")) {
                if (acceptKw("ALL")) op = SelectStmt::SetOperator::UnionAll;
            } else if (acceptKw("EXCEPT")) {
                op = SelectStmt::SetOperator::Except;
            } else {
                advance();
                op = SelectStmt::SetOperator::Intersect;
            }
            auto next = queryTerm();
            if (next->unionNext || !next->orderBy.empty())
                notSupported("a parenthesized UNION, EXCEPT or INTERSECT or ORDER BY inside one");
            chain.add();
            tail->setOperator = op;
            tail->unionNext = std::move(next);
            tail = tail->unionNext.get();
        }
        if (atKw("ORDER")) {
            if (!head->orderBy.empty()) failHere();
            advance();
            expectKw("BY");
            do {
                OrderItem item;
                item.expr = expr();
                if (acceptKw("DESC"))
                    item.descending = true;
                else
                    acceptKw("ASC");
                head->orderBy.push_back(std::move(item));
            } while (acceptOp(","));
            if (atWord("OFFSET")) notSupported("OFFSET ... FETCH");
        }
        if (atKw("FOR")) notSupported("FOR XML and FOR BROWSE");
        if (atKw("OPTION")) notSupported("query hints (OPTION)");
        return head;
    }

    std::unique_ptr<SelectStmt> queryTerm() {
        if (acceptOp("(")) {
            auto q = query();
            expectOp(")");
            return q;
        }
        if (!atKw("SELECT")) failHere();
        return selectCore();
    }

    // True when the "(" at the cursor opens a query: "(SELECT", "((SELECT" ...
    bool parenStartsQuery() const {
        std::size_t i = pos_;
        while (i < toks_.size() && isOp(toks_[i], "(")) ++i;
        return i > pos_ && i < toks_.size() && isKw(toks_[i], "SELECT");
    }

    std::unique_ptr<SelectStmt> selectCore() {
        auto s = std::make_unique<SelectStmt>();
        s->offset = cur().offset;
        expectKw("SELECT");
        if (acceptKw("DISTINCT"))
            s->distinct = true;
        else
            acceptKw("ALL");
        if (acceptKw("TOP")) {
            s->top = topValue(true);
            if (acceptKw("PERCENT")) s->topPercent = true;
            if (atKw("WITH") && isWord(peek(), "TIES")) notSupported("TOP ... WITH TIES");
        }
        do {
            s->items.push_back(selectItem());
        } while (acceptOp(","));
        if (acceptKw("INTO")) s->into = qualifiedName();
        if (acceptKw("FROM")) s->from = tableList();
        if (acceptKw("WHERE")) s->where = expr();
        if (acceptKw("GROUP")) {
            expectKw("BY");
            if (atKw("ALL")) notSupported("GROUP BY ALL");
            do {
                s->groupBy.push_back(expr());
            } while (acceptOp(","));
            if (atKw("WITH") && isWordOneOf(peek(), {"ROLLUP", "CUBE"})) notSupported("WITH ROLLUP and WITH CUBE");
        }
        if (acceptKw("HAVING")) s->having = expr();
        return s;
    }

    // TOP (expr), or TOP n with a bare number where SQL Server allows it (SELECT only).
    ExprPtr topValue(bool bareAllowed) {
        if (acceptOp("(")) {
            auto e = expr();
            expectOp(")");
            return e;
        }
        if (!bareAllowed || !isNumber(cur()) || cur().kind == TokenKind::Money) failHere();
        const Token& t = advance();
        auto e = makeExpr(Kind::Literal, t.offset);
        e->literalKind = literalKindOf(t.kind);
        e->text = t.text;
        return e;
    }

    // True when the cursor is at "*" qualified by names: t.*, dbo.t.*, db..t.*
    bool qualifiedStarAhead() const {
        std::size_t i = pos_;
        if (!isName(toks_[i])) return false;
        ++i;
        while (i + 1 < toks_.size() && isOp(toks_[i], ".")) {
            const Token& after = toks_[i + 1];
            if (isOp(after, "*")) return true;
            if (isOp(after, "."))
                i += 1;
            else if (isName(after))
                i += 2;
            else
                return false;
        }
        return false;
    }

    SelectItem selectItem() {
        SelectItem item;
        const Token& t = cur();
        if (isOp(t, "*")) {
            item.expr = makeExpr(Kind::Star, t.offset);
            advance();
            return item;
        }
        if (qualifiedStarAhead()) {
            auto e = makeExpr(Kind::Star, t.offset);
            e->name.offset = t.offset;
            e->name.parts.push_back(advance().text);
            for (;;) {
                expectOp(".");
                if (acceptOp("*")) break;
                if (atOp("."))
                    e->name.parts.emplace_back();
                else
                    e->name.parts.push_back(name());
            }
            item.expr = std::move(e);
            return item;
        }
        if (t.kind == TokenKind::Variable && (isOp(peek(), "=") || isCompoundAssignment(peek())))
            notSupported("assigning variables in SELECT");
        // alias = expression
        if ((isName(t) || isString(t)) && isOp(peek(), "=")) {
            item.alias = advance().text;
            advance();
            item.expr = expr();
            return item;
        }
        item.expr = expr();
        if (acceptKw("AS")) {
            item.alias = nameOrString();
        } else if (atName() || isString(cur())) {
            item.alias = advance().text;
        }
        return item;
    }

    // ---- FROM -------------------------------------------------------------------------------------

    std::vector<TableRefPtr> tableList() {
        std::vector<TableRefPtr> refs;
        do {
            refs.push_back(tableSource());
        } while (acceptOp(","));
        return refs;
    }

    TableRefPtr tableSource() {
        Nesting guard(*this);
        return joins(tablePrimary());
    }

    bool atJoin() const {
        return atKw("JOIN") || atKw("INNER") || atKw("LEFT") || atKw("RIGHT") || atKw("FULL") || atKw("CROSS");
    }

    void rejectJoinHint() const {
        if (isWordOneOf(cur(), {"LOOP", "HASH", "REMOTE"}) || atKw("MERGE")) notSupported("join hints");
    }

    TableRefPtr joins(TableRefPtr left) {
        Chain chain(*this);
        for (;;) {
            TableRef::JoinType type = TableRef::JoinType::Inner;
            if (acceptKw("JOIN")) {
            } else if (acceptKw("INNER")) {
                rejectJoinHint();
                expectKw("JOIN");
            } else if (atKw("LEFT") || atKw("RIGHT") || atKw("FULL")) {
                const std::string& k = advance().upper;
                type = k == "LEFT"    ? TableRef::JoinType::Left
                       : k == "RIGHT" ? TableRef::JoinType::Right
                                      : TableRef::JoinType::Full;
                acceptKw("OUTER");
                rejectJoinHint();
                expectKw("JOIN");
            } else if (atKw("CROSS")) {
                advance();
                if (atWord("APPLY")) notSupported("CROSS APPLY and OUTER APPLY");
                expectKw("JOIN");
                type = TableRef::JoinType::Cross;
            } else if (atKw("OUTER") && isWord(peek(), "APPLY")) {
                notSupported("CROSS APPLY and OUTER APPLY");
            } else {
                break;
            }
            chain.add();
            auto j = std::make_unique<TableRef>();
            j->kind = TableRef::Kind::Join;
            j->offset = left->offset;
            j->joinType = type;
            j->left = std::move(left);
            auto right = tablePrimary();
            // a JOIN b JOIN c ON ... ON ...: the right side is itself a join.
            if (type != TableRef::JoinType::Cross && atJoin()) {
                Nesting guard(*this);
                right = joins(std::move(right));
            }
            j->right = std::move(right);
            if (type != TableRef::JoinType::Cross) {
                expectKw("ON");
                j->on = expr();
            }
            left = std::move(j);
        }
        return left;
    }

    TableRefPtr tablePrimary() {
        auto r = std::make_unique<TableRef>();
        r->offset = cur().offset;
        if (atOp("(")) {
            if (parenStartsQuery()) {
                advance();
                r->kind = TableRef::Kind::Derived;
                r->derived = query();
                expectOp(")");
                acceptKw("AS");
                r->alias = name();
                if (atOp("(")) notSupported("column names for a derived table");
                return r;
            }
            advance();
            Nesting guard(*this);
            auto inner = tableSource();
            expectOp(")");
            return inner;
        }
        if (isKwOneOf(cur(),
                      {"OPENROWSET", "OPENQUERY", "OPENDATASOURCE", "OPENXML", "CONTAINSTABLE", "FREETEXTTABLE"}))
            notSupported(cur().upper);
        if (cur().kind == TokenKind::Variable) notSupported("table variables");
        r->kind = TableRef::Kind::Table;
        r->table = qualifiedName();
        if (atOp("(")) {
            if (!oldStyleHintAhead()) notSupported("table-valued functions");
            r->hints = hintList();
        }
        if (acceptKw("AS"))
            r->alias = name();
        else if (atName())
            r->alias = advance().text;
        if (atKw("WITH") && isOp(peek(), "(")) {
            advance();
            r->hints = hintList();
        } else if (atOp("(") && oldStyleHintAhead()) {
            r->hints = hintList();
        }
        if (atKw("TABLESAMPLE")) notSupported("TABLESAMPLE");
        if (atKw("PIVOT") || atKw("UNPIVOT")) notSupported("PIVOT and UNPIVOT");
        return r;
    }

    bool oldStyleHintAhead() const {
        return atOp("(") && isTableHintWord(peek(1)) && (isOp(peek(2), ")") || isOp(peek(2), ","));
    }

    // ( NOLOCK, INDEX(ix), ... ): hint words in upper case.
    std::vector<std::string> hintList() {
        std::vector<std::string> hints;
        expectOp("(");
        do {
            const Token& t = cur();
            if (t.kind != TokenKind::Identifier && t.kind != TokenKind::Keyword) failHere();
            std::string hint = text::toUpper(advance().text);
            if (hint == "INDEX") {
                std::string target;
                if (acceptOp("=")) {
                    target = atName() ? name() : std::to_string(integer());
                } else {
                    expectOp("(");
                    do {
                        if (!target.empty()) target += ",";
                        target += atName() ? name() : std::to_string(integer());
                    } while (acceptOp(","));
                    expectOp(")");
                }
                hint += "(" + target + ")";
            }
            hints.push_back(std::move(hint));
            acceptOp(",");
        } while (!atOp(")"));
        expectOp(")");
        return hints;
    }

    // ---- expressions ------------------------------------------------------------------------------
    // Precedence, loosest first: OR; AND; NOT; comparisons and IN/BETWEEN/LIKE/IS; + - & | ^ (and a
    // leading sign); * / %; ~ and signs inside operands.

    ExprPtr expr() { return orExpr(); }

    ExprPtr orExpr() {
        Nesting guard(*this);
        auto left = andExpr();
        Chain chain(*this);
        while (acceptKw("OR")) {
            chain.add();
            auto right = andExpr();
            left = makeBinary("OR", std::move(left), std::move(right));
        }
        return left;
    }

    ExprPtr andExpr() {
        auto left = notExpr();
        Chain chain(*this);
        while (acceptKw("AND")) {
            chain.add();
            auto right = notExpr();
            left = makeBinary("AND", std::move(left), std::move(right));
        }
        return left;
    }

    ExprPtr notExpr() {
        if (!atKw("NOT")) return predicate();
        std::size_t offset = advance().offset;
        Nesting guard(*this);
        if (atKw("EXISTS")) {
            auto e = existsExpr();
            e->offset = offset;
            e->negated = true;
            return e;
        }
        auto operand = notExpr();
        return makeUnary("NOT", std::move(operand), offset);
    }

    ExprPtr predicate() {
        auto left = additive();
        const Token& t = cur();
        if (isComparison(t)) {
            advance();
            if (atKw("ALL") || atKw("ANY") || atKw("SOME")) notSupported("ALL, ANY and SOME comparisons");
            auto right = additive();
            return makeBinary(t.text, std::move(left), std::move(right));
        }
        bool negated = false;
        if (isKw(t, "NOT") && isKwOneOf(peek(), {"IN", "BETWEEN", "LIKE"})) {
            advance();
            negated = true;
        }
        if (acceptKw("IN")) {
            expectOp("(");
            ExprPtr e;
            if (atKw("SELECT")) {
                e = makeExpr(Kind::InSubquery, left->offset);
                e->subquery = query();
                e->args.push_back(std::move(left));
            } else {
                e = makeExpr(Kind::InList, left->offset);
                e->args.push_back(std::move(left));
                do {
                    e->args.push_back(expr());
                } while (acceptOp(","));
            }
            expectOp(")");
            e->negated = negated;
            return e;
        }
        if (acceptKw("BETWEEN")) {
            auto e = makeExpr(Kind::Between, left->offset);
            e->args.push_back(std::move(left));
            e->args.push_back(additive());
            expectKw("AND");
            e->args.push_back(additive());
            e->negated = negated;
            return e;
        }
        if (acceptKw("LIKE")) {
            auto e = makeExpr(Kind::Like, left->offset);
            e->args.push_back(std::move(left));
            e->args.push_back(additive());
            if (acceptKw("ESCAPE")) e->args.push_back(additive());
            e->negated = negated;
            return e;
        }
        if (acceptKw("IS")) {
            auto e = makeExpr(Kind::IsNull, left->offset);
            e->negated = acceptKw("NOT");
            expectKw("NULL");
            e->args.push_back(std::move(left));
            return e;
        }
        return left;
    }

    bool atAdditiveOp() const {
        const Token& t = cur();
        return t.kind == TokenKind::Operator && t.text.size() == 1 &&
               std::string_view("+-&|^").find(t.text[0]) != std::string_view::npos;
    }

    ExprPtr additive() {
        ExprPtr left;
        // A leading sign applies to the whole multiplicative term: -2 * 3 is -(2 * 3).
        if (atOp("-") || atOp("+")) {
            const Token& sign = advance();
            Nesting guard(*this);
            auto operand = multiplicative();
            left = makeUnary(sign.text, std::move(operand), sign.offset);
        } else {
            left = multiplicative();
        }
        Chain chain(*this);
        while (atAdditiveOp()) {
            std::string op = advance().text;
            chain.add();
            auto right = multiplicative();
            left = makeBinary(std::move(op), std::move(left), std::move(right));
        }
        return left;
    }

    ExprPtr multiplicative() {
        auto left = unary();
        Chain chain(*this);
        while (atOp("*") || atOp("/") || atOp("%")) {
            std::string op = advance().text;
            chain.add();
            auto right = unary();
            left = makeBinary(std::move(op), std::move(left), std::move(right));
        }
        return left;
    }

    ExprPtr unary() {
        if (atOp("~") || atOp("-") || atOp("+")) {
            const Token& op = advance();
            Nesting guard(*this);
            auto operand = unary();
            return makeUnary(op.text, std::move(operand), op.offset);
        }
        auto e = primary();
        if (atKw("COLLATE") && !collateEndsExpression_) notSupported("COLLATE in expressions");
        return e;
    }

    ExprPtr primary() {
        const Token& t = cur();
        if (isLiteral(t)) {
            advance();
            auto e = makeExpr(Kind::Literal, t.offset);
            e->literalKind = literalKindOf(t.kind);
            e->text = t.text;
            return e;
        }
        switch (t.kind) {
            case TokenKind::Variable: {
                advance();
                auto e = makeExpr(Kind::Variable, t.offset);
                e->text = t.text;
                return e;
            }
            case TokenKind::Keyword:
                return keywordPrimary();
            case TokenKind::Operator:
                if (isOp(t, "(")) return parenthesized();
                failHere();
            case TokenKind::Identifier:
            case TokenKind::QuotedIdentifier: {
                if (t.kind == TokenKind::Identifier && isOp(peek(), "(")) {
                    if (t.upper == "CAST") return castExpr();
                    if (t.upper == "TRY_CAST" || t.upper == "TRY_PARSE" || t.upper == "PARSE") notSupported(t.upper);
                }
                QualifiedName q = qualifiedName();
                if (atOp("(")) return functionCall(std::move(q));
                return makeColumn(std::move(q));
            }
            default:
                failHere();
        }
    }

    ExprPtr keywordPrimary() {
        const Token& t = cur();
        const std::string& k = t.upper;
        if (k == "NULL") {
            advance();
            auto e = makeExpr(Kind::Literal, t.offset);
            e->literalKind = LiteralKind::Null;
            return e;
        }
        if (k == "CASE") return caseExpr();
        if (k == "EXISTS") return existsExpr();
        if (k == "CONVERT") return convertExpr();
        if (k == "TRY_CONVERT") notSupported("TRY_CONVERT");
        if ((k == "COALESCE" || k == "NULLIF" || k == "LEFT" || k == "RIGHT") && isOp(peek(), "(")) {
            QualifiedName q;
            q.offset = t.offset;
            q.parts.push_back(advance().text);
            return functionCall(std::move(q));
        }
        // Functions SQL Server writes without parentheses.
        if (k == "CURRENT_TIMESTAMP" || k == "CURRENT_USER" || k == "SESSION_USER" || k == "SYSTEM_USER" ||
            k == "USER") {
            advance();
            auto e = makeExpr(Kind::Function, t.offset);
            e->name.offset = t.offset;
            e->name.parts.push_back(t.text);
            return e;
        }
        if (k == "IDENTITY" && isOp(peek(), "(")) notSupported("the IDENTITY function");
        failHere();
    }

    ExprPtr parenthesized() {
        advance();
        if (atKw("SELECT")) {
            auto e = makeExpr(Kind::Subquery, cur().offset);
            e->subquery = query();
            expectOp(")");
            return e;
        }
        auto e = expr();
        expectOp(")");
        return e;
    }

    ExprPtr functionCall(QualifiedName name) {
        auto e = makeExpr(Kind::Function, name.offset);
        e->name = std::move(name);
        expectOp("(");
        if (acceptOp("*")) {
            e->starArgument = true;
        } else if (!atOp(")")) {
            if (acceptKw("DISTINCT"))
                e->distinct = true;
            else
                acceptKw("ALL");
            do {
                e->args.push_back(expr());
            } while (acceptOp(","));
        }
        expectOp(")");
        if (atKw("OVER")) notSupported("window functions (OVER)");
        if (atKw("WITHIN")) notSupported("WITHIN GROUP");
        return e;
    }

    ExprPtr castExpr() {
        auto e = makeExpr(Kind::Cast, advance().offset);
        expectOp("(");
        e->args.push_back(expr());
        expectKw("AS");
        e->type = typeName();
        expectOp(")");
        return e;
    }

    ExprPtr convertExpr() {
        auto e = makeExpr(Kind::Cast, advance().offset);
        e->isConvert = true;
        expectOp("(");
        e->type = typeName();
        expectOp(",");
        e->args.push_back(expr());
        if (acceptOp(",")) e->args.push_back(expr());
        expectOp(")");
        return e;
    }

    ExprPtr caseExpr() {
        auto e = makeExpr(Kind::Case, advance().offset);
        if (!atKw("WHEN")) e->caseOperand = expr();
        if (!atKw("WHEN")) failHere();
        while (acceptKw("WHEN")) {
            auto when = expr();
            expectKw("THEN");
            auto then = expr();
            e->whens.emplace_back(std::move(when), std::move(then));
        }
        if (acceptKw("ELSE")) e->elseExpr = expr();
        expectKw("END");
        return e;
    }

    ExprPtr existsExpr() {
        auto e = makeExpr(Kind::Exists, advance().offset);
        expectOp("(");
        e->subquery = query();
        expectOp(")");
        return e;
    }

    // ---- data types -------------------------------------------------------------------------------

    static bool takesPrecision(const std::string& type) {
        return type == "decimal" || type == "numeric" || type == "dec" || type == "float";
    }
    static bool takesFractionalSeconds(const std::string& type) {
        return type == "time" || type == "datetime2" || type == "datetimeoffset";
    }

    TypeName typeName() {
        TypeName ty;
        ty.offset = cur().offset;
        if (atKw("DOUBLE") && isKw(peek(), "PRECISION")) {
            advance();
            advance();
            ty.name = "float";
            return ty;
        }
        if (atKw("NATIONAL")) notSupported("NATIONAL type names");
        ty.name = text::toLower(name());
        if (atOp(".")) notSupported("user-defined types");
        if (acceptOp("(")) {
            int first = TypeName::kNotGiven;
            if (acceptWord("MAX"))
                first = TypeName::kMax;
            else
                first = integer();
            if (acceptOp(",")) {
                ty.precision = first;
                ty.scale = integer();
            } else if (takesPrecision(ty.name)) {
                ty.precision = first;
            } else if (takesFractionalSeconds(ty.name)) {
                ty.scale = first;
            } else {
                ty.length = first;
            }
            expectOp(")");
        }
        return ty;
    }

    // ---- INSERT / UPDATE / DELETE -----------------------------------------------------------------

    // WITH (TABLOCK) and the like on the target of a change: locking only, accepted and dropped.
    void skipTargetHints() {
        if (atKw("WITH") && isOp(peek(), "(")) {
            advance();
            hintList();
        }
    }

    StatementPtr insertStatement() {
        auto st = std::make_unique<InsertStatement>();
        advance();
        if (atKw("TOP")) notSupported("INSERT TOP");
        acceptKw("INTO");
        if (cur().kind == TokenKind::Variable) notSupported("table variables");
        st->table = qualifiedName();
        skipTargetHints();
        if (atOp("(") && !parenStartsQuery()) st->columns = nameList();
        if (atWord("OUTPUT")) notSupported("OUTPUT clauses");
        if (acceptKw("VALUES")) {
            st->source = InsertStatement::Source::Values;
            do {
                expectOp("(");
                std::vector<ExprPtr> row;
                do {
                    if (atKw("DEFAULT")) notSupported("DEFAULT in a VALUES list");
                    row.push_back(expr());
                } while (acceptOp(","));
                expectOp(")");
                st->rows.push_back(std::move(row));
            } while (acceptOp(","));
        } else if (atKw("SELECT") || atOp("(")) {
            st->source = InsertStatement::Source::Select;
            st->select = query();
        } else if (acceptKw("DEFAULT")) {
            expectKw("VALUES");
            st->source = InsertStatement::Source::DefaultValues;
        } else if (atKw("EXEC") || atKw("EXECUTE")) {
            st->source = InsertStatement::Source::Execute;
            std::size_t start = cur().offset;
            st->execute = executeStatement();
            st->execute->offset = start;
            st->execute->endOffset = lastEnd_;
        } else if (atKw("WITH")) {
            notSupported("common table expressions (WITH)");
        } else {
            failHere();
        }
        return st;
    }

    // UPDATE TOP (n) / DELETE TOP (n): parentheses required, no PERCENT in the tree.
    ExprPtr changeTop() {
        if (!acceptKw("TOP")) return nullptr;
        auto top = topValue(false);
        if (atKw("PERCENT")) notSupported("TOP ... PERCENT in UPDATE and DELETE");
        return top;
    }

    ExprPtr whereOfChange() {
        if (!acceptKw("WHERE")) return nullptr;
        if (atKw("CURRENT") && isKw(peek(), "OF")) notSupported("cursors");
        return expr();
    }

    StatementPtr updateStatement() {
        auto st = std::make_unique<UpdateStatement>();
        advance();
        st->top = changeTop();
        if (cur().kind == TokenKind::Variable) notSupported("table variables");
        st->table = qualifiedName();
        skipTargetHints();
        expectKw("SET");
        do {
            st->assignments.push_back(assignment());
        } while (acceptOp(","));
        if (atWord("OUTPUT")) notSupported("OUTPUT clauses");
        if (acceptKw("FROM")) st->from = tableList();
        st->where = whereOfChange();
        if (atKw("OPTION")) notSupported("query hints (OPTION)");
        return st;
    }

    Assignment assignment() {
        if (cur().kind == TokenKind::Variable) notSupported("assigning variables in UPDATE");
        Assignment a;
        a.column = qualifiedName();
        if (atOp("(")) notSupported("column methods in UPDATE");
        const Token& op = cur();
        if (isOp(op, "=")) {
            advance();
            if (atKw("DEFAULT")) notSupported("SET column = DEFAULT");
            a.value = expr();
        } else if (isCompoundAssignment(op)) {
            // a += x is a = a + x.
            advance();
            auto right = expr();
            a.value = makeBinary(op.text.substr(0, 1), makeColumn(a.column), std::move(right));
        } else {
            failHere();
        }
        return a;
    }

    StatementPtr deleteStatement() {
        auto st = std::make_unique<DeleteStatement>();
        advance();
        st->top = changeTop();
        acceptKw("FROM");
        if (cur().kind == TokenKind::Variable) notSupported("table variables");
        st->table = qualifiedName();
        skipTargetHints();
        if (atWord("OUTPUT")) notSupported("OUTPUT clauses");
        if (acceptKw("FROM")) st->from = tableList();
        st->where = whereOfChange();
        if (atKw("OPTION")) notSupported("query hints (OPTION)");
        return st;
    }

    StatementPtr truncateStatement() {
        auto st = std::make_unique<TruncateStatement>();
        advance();
        expectKw("TABLE");
        st->table = qualifiedName();
        return st;
    }

    // ---- CREATE / ALTER / DROP --------------------------------------------------------------------

    StatementPtr createStatement(bool batchStart) {
        advance();
        const Token& t = cur();
        if (isKw(t, "TABLE")) return createTable();
        if (isKw(t, "DATABASE")) return createDatabase();
        if (isKwOneOf(t, {"INDEX", "UNIQUE", "CLUSTERED", "NONCLUSTERED"})) return createIndex();
        if (isKw(t, "VIEW")) return createView(batchStart);
        if (isKw(t, "PROC") || isKw(t, "PROCEDURE")) notSupported("CREATE PROCEDURE");
        if (isKw(t, "OR")) notSupported("CREATE OR ALTER");
        if (isKwOneOf(t, {"FUNCTION", "TRIGGER", "SCHEMA", "DEFAULT", "RULE", "STATISTICS", "USER"}) ||
            isWordOneOf(t, {"LOGIN", "ROLE", "TYPE", "SYNONYM", "SEQUENCE", "ASSEMBLY", "FULLTEXT", "XML", "SPATIAL",
                            "COLUMNSTORE", "QUEUE", "SERVICE", "CERTIFICATE", "CREDENTIAL"}))
            notSupported("CREATE " + t.upper);
        failHere();
    }

    StatementPtr alterStatement() {
        advance();
        const Token& t = cur();
        if (isKw(t, "TABLE")) return alterTable();
        if (isKwOneOf(t, {"DATABASE", "VIEW", "PROC", "PROCEDURE", "FUNCTION", "TRIGGER", "INDEX", "SCHEMA", "USER"}) ||
            isWordOneOf(t, {"LOGIN", "ROLE", "SEQUENCE", "ASSEMBLY", "FULLTEXT", "QUEUE", "SERVICE", "AUTHORIZATION",
                            "SERVER"}))
            notSupported("ALTER " + t.upper);
        failHere();
    }

    StatementPtr dropStatement() {
        advance();
        const Token& t = cur();
        if (acceptKw("TABLE")) {
            auto st = std::make_unique<DropTableStatement>();
            st->ifExists = ifExists();
            do {
                st->tables.push_back(qualifiedName());
            } while (acceptOp(","));
            return st;
        }
        if (acceptKw("DATABASE")) {
            auto st = std::make_unique<DropDatabaseStatement>();
            st->ifExists = ifExists();
            do {
                st->names.push_back(name());
            } while (acceptOp(","));
            return st;
        }
        if (acceptKw("VIEW")) {
            auto st = std::make_unique<DropViewStatement>();
            st->ifExists = ifExists();
            do {
                st->views.push_back(qualifiedName());
            } while (acceptOp(","));
            return st;
        }
        if (acceptKw("INDEX")) return dropIndex();
        if (isKw(t, "PROC") || isKw(t, "PROCEDURE")) notSupported("DROP PROCEDURE");
        if (isKwOneOf(t, {"FUNCTION", "TRIGGER", "SCHEMA", "DEFAULT", "RULE", "STATISTICS", "USER"}) ||
            isWordOneOf(t, {"LOGIN", "ROLE", "TYPE", "SYNONYM", "SEQUENCE", "ASSEMBLY", "FULLTEXT", "XML", "QUEUE",
                            "SERVICE", "CERTIFICATE", "CREDENTIAL"}))
            notSupported("DROP " + t.upper);
        failHere();
    }

    bool ifExists() {
        if (!atKw("IF") || !isKw(peek(), "EXISTS")) return false;
        advance();
        advance();
        return true;
    }

    StatementPtr dropIndex() {
        auto st = std::make_unique<DropIndexStatement>();
        if (atKw("IF") && isKw(peek(), "EXISTS")) notSupported("DROP INDEX IF EXISTS");
        QualifiedName q = qualifiedName();
        if (acceptKw("ON")) {
            if (q.parts.size() != 1) failHere();
            st->name = q.last();
            st->table = qualifiedName();
            if (atKw("WITH")) notSupported("DROP INDEX options");
        } else {
            if (q.parts.size() < 2)
                throw EngineError(kDropIndexNeedsTable,
                                  "Must specify the table name and index name for the DROP INDEX statement.");
            st->name = q.last();
            st->table.offset = q.offset;
            st->table.parts = q.qualifier();
        }
        if (atOp(",")) notSupported("dropping several indexes in one statement");
        return st;
    }

    StatementPtr createTable() {
        auto st = std::make_unique<CreateTableStatement>();
        advance();
        st->table = qualifiedName();
        expectOp("(");
        do {
            if (atTableConstraint(false))
                st->constraints.push_back(tableConstraint(false));
            else if (atKw("INDEX"))
                notSupported("index definitions inside CREATE TABLE");
            else
                st->columns.push_back(columnDef());
        } while (acceptOp(","));
        expectOp(")");
        for (;;) {
            if (acceptKw("ON")) {
                st->filegroup = filegroup();
            } else if (acceptWord("TEXTIMAGE_ON")) {
                filegroup();
            } else if (atKw("WITH")) {
                notSupported("table options (WITH) in CREATE TABLE");
            } else {
                break;
            }
        }
        return st;
    }

    // ON [PRIMARY], ON PRIMARY, ON fg: the filegroup name.
    std::string filegroup() {
        std::string fg;
        if (atKw("PRIMARY"))
            fg = advance().upper;
        else if (isString(cur()))
            fg = advance().text;
        else
            fg = name();
        if (atOp("(")) notSupported("partition schemes");
        return fg;
    }

    // A column definition: name type, then its attributes in any order.
    ColumnDef columnDef() {
        ColumnDef c;
        c.offset = cur().offset;
        c.name = name();
        if (atKw("AS")) notSupported("computed columns");
        c.type = typeName();
        for (;;) {
            std::size_t constraintOffset = cur().offset;
            std::string constraintName;
            bool named = acceptKw("CONSTRAINT");
            if (named) constraintName = name();
            const Token& t = cur();
            if (isKw(t, "NULL")) {
                advance();
                c.nullable = true;
            } else if (isKw(t, "NOT") && isKw(peek(), "NULL")) {
                advance();
                advance();
                c.nullable = false;
            } else if (isKw(t, "NOT") && isKw(peek(), "FOR")) {
                notForReplication();
            } else if (isKw(t, "IDENTITY")) {
                advance();
                c.identity = true;
                if (acceptOp("(")) {
                    c.identitySeed = signedInteger();
                    expectOp(",");
                    c.identityIncrement = signedInteger();
                    expectOp(")");
                }
            } else if (isKw(t, "DEFAULT")) {
                advance();
                std::size_t start = cur().offset;
                // A COLLATE after the default belongs to the column.
                collateEndsExpression_ = true;
                c.defaultValue = expr();
                collateEndsExpression_ = false;
                c.defaultText = slice(start, lastEnd_);
                c.defaultName = constraintName;
                if (atKw("WITH") && isWord(peek(), "VALUES")) notSupported("DEFAULT ... WITH VALUES");
            } else if (isKw(t, "COLLATE")) {
                advance();
                c.collation = name();
            } else if (isKw(t, "ROWGUIDCOL")) {
                advance();
            } else if (isKwOneOf(t, {"PRIMARY", "UNIQUE", "REFERENCES", "FOREIGN", "CHECK"})) {
                c.constraints.push_back(columnConstraint(std::move(constraintName), constraintOffset, c.name));
            } else if (isWordOneOf(t, {"SPARSE", "FILESTREAM", "MASKED", "GENERATED", "HIDDEN"})) {
                notSupported(t.upper + " columns");
            } else {
                if (named) failHere();
                break;
            }
        }
        return c;
    }

    void notForReplication() {
        expectKw("NOT");
        expectKw("FOR");
        expectKw("REPLICATION");
    }

    std::optional<bool> clustered() {
        if (acceptKw("CLUSTERED")) return true;
        if (acceptKw("NONCLUSTERED")) return false;
        return std::nullopt;
    }

    // PRIMARY KEY / UNIQUE / REFERENCES / CHECK written after a column: it applies to that column.
    TableConstraint columnConstraint(std::string name, std::size_t offset, const std::string& column) {
        TableConstraint k;
        k.name = std::move(name);
        k.offset = offset;
        if (acceptKw("PRIMARY") || acceptKw("UNIQUE")) {
            bool primary = toks_[pos_ - 1].upper == "PRIMARY";
            if (primary) expectKw("KEY");
            k.kind = primary ? TableConstraint::Kind::PrimaryKey : TableConstraint::Kind::Unique;
            k.clustered = clustered();
            k.columns.push_back(IndexColumn{column, false});
            indexOptions(k.indexOptions);
        } else if (atKw("CHECK")) {
            checkBody(k);
        } else {
            if (acceptKw("FOREIGN")) expectKw("KEY");
            k.kind = TableConstraint::Kind::ForeignKey;
            k.columns.push_back(IndexColumn{column, false});
            references(k);
        }
        return k;
    }

    bool atTableConstraint(bool allowDefault) const {
        return isKwOneOf(cur(), {"CONSTRAINT", "PRIMARY", "UNIQUE", "FOREIGN", "CHECK"}) ||
               (allowDefault && atKw("DEFAULT"));
    }

    // [CONSTRAINT n] PRIMARY KEY | UNIQUE | FOREIGN KEY | CHECK | DEFAULT ... FOR col (ALTER TABLE only)
    TableConstraint tableConstraint(bool allowDefault) {
        TableConstraint k;
        k.offset = cur().offset;
        if (acceptKw("CONSTRAINT")) k.name = name();
        if (acceptKw("PRIMARY") || acceptKw("UNIQUE")) {
            bool primary = toks_[pos_ - 1].upper == "PRIMARY";
            if (primary) expectKw("KEY");
            k.kind = primary ? TableConstraint::Kind::PrimaryKey : TableConstraint::Kind::Unique;
            k.clustered = clustered();
            expectOp("(");
            do {
                IndexColumn col;
                col.name = name();
                if (acceptKw("DESC"))
                    col.descending = true;
                else
                    acceptKw("ASC");
                k.columns.push_back(std::move(col));
            } while (acceptOp(","));
            expectOp(")");
            indexOptions(k.indexOptions);
        } else if (acceptKw("FOREIGN")) {
            expectKw("KEY");
            k.kind = TableConstraint::Kind::ForeignKey;
            for (auto& column : nameList()) k.columns.push_back(IndexColumn{std::move(column), false});
            references(k);
        } else if (atKw("CHECK")) {
            checkBody(k);
        } else if (allowDefault && acceptKw("DEFAULT")) {
            k.kind = TableConstraint::Kind::Default;
            k.expression = expr();
            expectKw("FOR");
            k.columns.push_back(IndexColumn{name(), false});
            if (atKw("WITH") && isWord(peek(), "VALUES")) notSupported("DEFAULT ... WITH VALUES");
        } else {
            failHere();
        }
        return k;
    }

    void checkBody(TableConstraint& k) {
        expectKw("CHECK");
        k.kind = TableConstraint::Kind::Check;
        if (atKw("NOT")) notForReplication();
        expectOp("(");
        k.expression = expr();
        expectOp(")");
    }

    void references(TableConstraint& k) {
        expectKw("REFERENCES");
        k.referencedTable = qualifiedName();
        if (atOp("(")) k.referencedColumns = nameList();
        while (atKw("ON") && (isKw(peek(), "DELETE") || isKw(peek(), "UPDATE"))) {
            advance();
            advance();
            if (atWord("NO")) {
                advance();
                expectWord("ACTION");
            } else {
                notSupported("cascading foreign key actions");
            }
        }
        if (atKw("NOT")) notForReplication();
    }

    // WITH FILLFACTOR = n | WITH (name = value, ...) | WITH PAD_INDEX, ... then ON filegroup.
    void indexOptions(IndexOptions& o) {
        if (atKw("WITH")) {
            if (isOp(peek(), "(")) {
                advance();
                advance();
                do {
                    indexOption(o, true);
                } while (acceptOp(","));
                expectOp(")");
            } else if (isLegacyIndexOption(peek())) {
                advance();
                indexOption(o, false);
                while (atOp(",") && isLegacyIndexOption(peek())) {
                    advance();
                    indexOption(o, false);
                }
            }
        }
        if (acceptKw("ON")) o.filegroup = filegroup();
    }

    void indexOption(IndexOptions& o, bool valueRequired) {
        const Token& n = cur();
        if (n.kind != TokenKind::Identifier && !isKw(n, "FILLFACTOR")) failHere();
        std::string option = text::toUpper(advance().text);
        if (option == "FILLFACTOR") {
            expectOp("=");
            o.fillFactor = integer();
            return;
        }
        std::string value = "ON";
        if (acceptOp("=")) {
            const Token& v = cur();
            if (isKw(v, "ON") || isKw(v, "OFF"))
                value = v.upper;
            else if (v.kind == TokenKind::Integer || isName(v))
                value = v.text;
            else if (isString(v))
                value = v.text;
            else
                failHere();
            advance();
            if (atOp("(")) notSupported("index option " + option + " with arguments");
        } else if (valueRequired) {
            failHere();
        }
        o.options.emplace_back(std::move(option), std::move(value));
    }

    StatementPtr alterTable() {
        auto st = std::make_unique<AlterTableStatement>();
        advance();
        st->table = qualifiedName();
        if (acceptKw("WITH")) {
            if (acceptKw("NOCHECK"))
                st->withNoCheck = true;
            else
                expectKw("CHECK");
        }
        if (atKw("CHECK") || atKw("NOCHECK")) notSupported("enabling or disabling constraints");
        if (acceptKw("ADD")) {
            if (atKw("ROWGUIDCOL")) notSupported("ALTER TABLE ... ADD ROWGUIDCOL");
            bool anyColumn = false;
            do {
                if (atTableConstraint(true)) {
                    st->constraints.push_back(tableConstraint(true));
                } else {
                    st->columns.push_back(columnDef());
                    anyColumn = true;
                }
            } while (acceptOp(","));
            st->action =
                anyColumn ? AlterTableStatement::Action::AddColumns : AlterTableStatement::Action::AddConstraints;
        } else if (acceptKw("DROP")) {
            alterDrop(*st);
        } else if (acceptKw("ALTER")) {
            expectKw("COLUMN");
            st->action = AlterTableStatement::Action::AlterColumn;
            st->columns.push_back(alteredColumn());
        } else if (atKw("SET") || isWordOneOf(cur(), {"SWITCH", "REBUILD", "ENABLE", "DISABLE", "LOCK"})) {
            notSupported("ALTER TABLE ... " + cur().upper);
        } else {
            failHere();
        }
        return st;
    }

    // DROP COLUMN a, b | DROP [CONSTRAINT] n, m
    void alterDrop(AlterTableStatement& st) {
        bool columns = false;
        bool constraints = false;
        bool columnMode = false;
        do {
            if (acceptKw("COLUMN"))
                columnMode = true;
            else if (acceptKw("CONSTRAINT"))
                columnMode = false;
            if (atKw("IF") && isKw(peek(), "EXISTS")) notSupported("ALTER TABLE ... DROP ... IF EXISTS");
            st.names.push_back(name());
            (columnMode ? columns : constraints) = true;
            if (atKw("WITH")) notSupported("options of DROP CONSTRAINT");
        } while (acceptOp(","));
        if (columns && constraints) notSupported("dropping columns and constraints in one statement");
        st.action = columns ? AlterTableStatement::Action::DropColumns : AlterTableStatement::Action::DropConstraints;
    }

    // ALTER COLUMN c type [COLLATE x] [NULL | NOT NULL]
    ColumnDef alteredColumn() {
        ColumnDef c;
        c.offset = cur().offset;
        c.name = name();
        if (atKw("ADD") || atKw("DROP")) notSupported("ALTER COLUMN ... " + cur().upper);
        c.type = typeName();
        if (acceptKw("COLLATE")) c.collation = name();
        if (acceptKw("NULL")) {
            c.nullable = true;
        } else if (atKw("NOT") && isKw(peek(), "NULL")) {
            advance();
            advance();
            c.nullable = false;
        }
        return c;
    }

    StatementPtr createDatabase() {
        auto st = std::make_unique<CreateDatabaseStatement>();
        advance();
        st->name = name();
        if (atWord("CONTAINMENT")) notSupported("CREATE DATABASE ... CONTAINMENT");
        if (acceptKw("ON")) {
            acceptKw("PRIMARY");
            do {
                if (atWord("FILEGROUP")) notSupported("filegroups");
                st->dataFiles.push_back(databaseFile());
            } while (acceptOp(","));
        }
        if (acceptWord("LOG")) {
            expectKw("ON");
            do {
                st->logFiles.push_back(databaseFile());
            } while (acceptOp(","));
        }
        if (acceptKw("COLLATE")) st->collation = name();
        if (atKw("WITH")) notSupported("database options (WITH) in CREATE DATABASE");
        if (acceptKw("FOR")) {
            expectWord("ATTACH");
            st->forAttach = true;
        }
        if (atKw("AS")) notSupported("database snapshots");
        return st;
    }

    // (NAME = x, FILENAME = 'path', SIZE = 91, MAXSIZE = UNLIMITED, FILEGROWTH = 10%)
    DatabaseFile databaseFile() {
        DatabaseFile f;
        expectOp("(");
        do {
            const Token& key = cur();
            if (isWord(key, "NAME")) {
                advance();
                expectOp("=");
                f.name = nameOrString();
            } else if (isWord(key, "FILENAME")) {
                advance();
                expectOp("=");
                if (!isString(cur())) failHere();
                f.fileName = advance().text;
            } else if (isWord(key, "SIZE")) {
                advance();
                expectOp("=");
                f.size = sizeValue(false);
            } else if (isWord(key, "MAXSIZE")) {
                advance();
                expectOp("=");
                f.maxSize = atWord("UNLIMITED") ? advance().text : sizeValue(false);
            } else if (isWord(key, "FILEGROWTH")) {
                advance();
                expectOp("=");
                f.growth = sizeValue(true);
            } else {
                failHere();
            }
        } while (acceptOp(","));
        expectOp(")");
        return f;
    }

    // 91, 2MB, 10% as written.
    std::string sizeValue(bool percentAllowed) {
        std::size_t start = cur().offset;
        if (cur().kind != TokenKind::Integer && cur().kind != TokenKind::Decimal) failHere();
        advance();
        if (isWordOneOf(cur(), {"KB", "MB", "GB", "TB"}) || (percentAllowed && atOp("%"))) advance();
        return slice(start, lastEnd_);
    }

    StatementPtr createIndex() {
        auto st = std::make_unique<CreateIndexStatement>();
        st->unique = acceptKw("UNIQUE");
        st->clustered = clustered();
        if (atWord("COLUMNSTORE")) notSupported("columnstore indexes");
        expectKw("INDEX");
        st->name = name();
        expectKw("ON");
        st->table = qualifiedName();
        expectOp("(");
        do {
            IndexColumn col;
            col.name = name();
            if (acceptKw("DESC"))
                col.descending = true;
            else
                acceptKw("ASC");
            st->columns.push_back(std::move(col));
        } while (acceptOp(","));
        expectOp(")");
        if (atWord("INCLUDE")) notSupported("included columns");
        if (atKw("WHERE")) notSupported("filtered indexes");
        indexOptions(st->options);
        return st;
    }

    // The view's text runs to the end of the batch, so it must be the batch's only statement.
    StatementPtr createView(bool batchStart) {
        if (!batchStart)
            throw EngineError(kCreateViewNotFirst, "'CREATE VIEW' must be the first statement in a query batch.");
        auto st = std::make_unique<CreateViewStatement>();
        advance();
        st->view = qualifiedName();
        if (atOp("(")) st->columns = nameList();
        if (atKw("WITH")) notSupported("view attributes (WITH)");
        expectKw("AS");
        std::size_t start = cur().offset;
        st->select = query();
        st->selectText = slice(start, lastEnd_);
        if (atKw("WITH") && isKw(peek(), "CHECK")) notSupported("WITH CHECK OPTION");
        std::size_t save = pos_;
        std::size_t saveEnd = lastEnd_;
        while (acceptOp(";")) {
        }
        if (cur().kind != TokenKind::End) failHere();
        pos_ = save;
        lastEnd_ = saveEnd;
        return st;
    }

    // ---- control of flow, transactions, settings --------------------------------------------------

    StatementPtr ifStatement() {
        auto st = std::make_unique<IfStatement>();
        advance();
        st->condition = expr();
        st->then = statement(false);
        // A ";" may stand between the statement and its ELSE.
        std::size_t save = pos_;
        std::size_t saveEnd = lastEnd_;
        while (acceptOp(";")) {
        }
        if (acceptKw("ELSE")) {
            st->otherwise = statement(false);
        } else {
            pos_ = save;
            lastEnd_ = saveEnd;
        }
        return st;
    }

    StatementPtr beginStatement() {
        advance();
        if (acceptKw("TRAN") || acceptKw("TRANSACTION")) {
            auto st = std::make_unique<TransactionStatement>();
            st->action = TransactionStatement::Action::Begin;
            transactionName();
            if (atKw("WITH") && isWord(peek(), "MARK")) notSupported("marked transactions");
            return st;
        }
        if (atKw("DISTRIBUTED")) notSupported("distributed transactions");
        if (atWord("TRY") || atWord("CATCH")) notSupported("TRY...CATCH");
        if (atWord("DIALOG") || atWord("CONVERSATION")) notSupported("Service Broker conversations");
        auto st = std::make_unique<BlockStatement>();
        if (atKw("END")) failHere();
        for (;;) {
            while (acceptOp(";")) {
            }
            if (acceptKw("END")) break;
            if (cur().kind == TokenKind::End) failHere();
            st->statements.push_back(statement(false));
        }
        return st;
    }

    void transactionName() {
        if (atName() || cur().kind == TokenKind::Variable) advance();
    }

    // COMMIT [TRAN[SACTION] [name]] | COMMIT WORK, and the same for ROLLBACK.
    StatementPtr endTransaction(TransactionStatement::Action action) {
        auto st = std::make_unique<TransactionStatement>();
        st->action = action;
        advance();
        if (acceptKw("TRAN") || acceptKw("TRANSACTION"))
            transactionName();
        else
            acceptWord("WORK");
        if (atKw("WITH")) notSupported("COMMIT options");
        return st;
    }

    StatementPtr setStatement() {
        advance();
        const Token& t = cur();
        if (t.kind == TokenKind::Variable) notSupported("variables");
        if (acceptKw("IDENTITY_INSERT")) {
            auto st = std::make_unique<SetIdentityInsertStatement>();
            st->table = qualifiedName();
            st->on = onOff() == "ON";
            return st;
        }
        auto st = std::make_unique<SetOptionStatement>();
        if (isKw(t, "ROWCOUNT") || isKw(t, "TEXTSIZE")) {
            st->options.push_back(advance().upper);
            st->value = setValue();
        } else if (acceptKw("TRANSACTION")) {
            expectWord("ISOLATION");
            expectWord("LEVEL");
            st->options.push_back("TRANSACTION ISOLATION LEVEL");
            if (acceptKw("READ")) {
                if (!atWord("COMMITTED") && !atWord("UNCOMMITTED")) failHere();
                st->value = "READ " + advance().upper;
            } else if (acceptWord("REPEATABLE")) {
                expectKw("READ");
                st->value = "REPEATABLE READ";
            } else if (atWord("SERIALIZABLE") || atWord("SNAPSHOT")) {
                st->value = advance().upper;
            } else {
                failHere();
            }
        } else if (acceptKw("STATISTICS")) {
            do {
                if (!isWordOneOf(cur(), {"IO", "TIME", "PROFILE", "XML"})) failHere();
                st->options.push_back("STATISTICS " + advance().upper);
            } while (acceptOp(","));
            st->value = onOff();
        } else if (t.kind == TokenKind::Identifier) {
            do {
                if (cur().kind != TokenKind::Identifier) failHere();
                st->options.push_back(text::toUpper(advance().text));
            } while (acceptOp(","));
            if (atKw("ON") || atKw("OFF"))
                st->value = advance().upper;
            else if (st->options.size() == 1)
                st->value = setValue();
            else
                failHere();
        } else {
            failHere();
        }
        return st;
    }

    std::string onOff() {
        if (!atKw("ON") && !atKw("OFF")) failHere();
        return advance().upper;
    }

    // SET DATEFORMAT dmy, SET LANGUAGE 'italiano', SET DEADLOCK_PRIORITY -5: the value as written
    // (a string without its quotes).
    std::string setValue() {
        const Token& t = cur();
        if (t.kind == TokenKind::Variable) notSupported("variables");
        if (isString(t)) return advance().text;
        if (isName(t)) return advance().text;
        std::size_t start = t.offset;
        if (atOp("-") || atOp("+")) advance();
        if (!isNumber(cur()) && cur().kind != TokenKind::Binary) failHere();
        advance();
        return slice(start, lastEnd_);
    }

    StatementPtr executeStatement() {
        advance();
        return executeBody();
    }

    // proc [arg [, arg ...]] where arg is [@name =] value.
    StatementPtr executeBody() {
        if (atOp("(") || isString(cur())) notSupported("dynamic SQL (EXEC of a string)");
        if (cur().kind == TokenKind::Variable) {
            if (isOp(peek(), "=")) notSupported("procedure return codes (EXEC @rc = ...)");
            notSupported("EXEC of a procedure named by a variable");
        }
        auto st = std::make_unique<ExecuteStatement>();
        st->procedure = qualifiedName();
        if (atExecArgument()) {
            do {
                st->arguments.push_back(execArgument());
            } while (acceptOp(","));
        }
        if (atKw("WITH") && isWordOneOf(peek(), {"RECOMPILE", "RESULT"})) notSupported("EXEC ... WITH options");
        return st;
    }

    bool atExecArgument() const {
        const Token& t = cur();
        return isLiteral(t) || isName(t) || t.kind == TokenKind::Variable || isKw(t, "NULL") || isKw(t, "DEFAULT") ||
               ((isOp(t, "-") || isOp(t, "+")) && isNumber(peek()));
    }

    ExecArgument execArgument() {
        ExecArgument a;
        if (cur().kind == TokenKind::Variable && isOp(peek(), "=")) {
            a.name = advance().text;
            advance();
        }
        const Token& t = cur();
        if (t.kind == TokenKind::Variable) {
            advance();
            a.value = makeExpr(Kind::Variable, t.offset);
            a.value->text = t.text;
            if (atWord("OUTPUT") || atWord("OUT")) notSupported("OUTPUT parameters");
        } else if (isLiteral(t) || isKw(t, "NULL")) {
            a.value = primary();
        } else if ((isOp(t, "-") || isOp(t, "+")) && isNumber(peek())) {
            advance();
            a.value = makeUnary(t.text, primary(), t.offset);
        } else if (isName(t)) {
            // SQL Server passes an unquoted name as a character string: EXEC sp_help Clienti.
            advance();
            a.value = makeExpr(Kind::Literal, t.offset);
            a.value->literalKind = LiteralKind::String;
            a.value->text = t.text;
        } else if (isKw(t, "DEFAULT")) {
            notSupported("DEFAULT as a procedure argument");
        } else {
            failHere();
        }
        return a;
    }

    StatementPtr reconfigureStatement() {
        auto st = std::make_unique<ReconfigureStatement>();
        advance();
        if (acceptKw("WITH")) {
            expectWord("OVERRIDE");
            st->withOverride = true;
        }
        return st;
    }

    StatementPtr useStatement() {
        auto st = std::make_unique<UseStatement>();
        advance();
        st->database = name();
        return st;
    }

    std::string_view src_;
    std::vector<Token> toks_;
    std::size_t pos_ = 0;
    std::size_t lastEnd_ = 0;
    int nesting_ = 0;
    int chain_ = 0;
    bool collateEndsExpression_ = false;
};

}  // namespace

std::vector<StatementPtr> parseBatch(std::string_view batch) {
    return Parser(batch).batch();
}

ExprPtr parseExpression(std::string_view text) {
    return Parser(text).expressionOnly();
}

std::unique_ptr<SelectStmt> parseSelect(std::string_view text) {
    return Parser(text).selectOnly();
}

}  // namespace vopa::engine::sql
