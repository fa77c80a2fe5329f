// The parser's core: batches, names, statement dispatch and data types; the entry points of Parser.h.

#include "Parser.h"

#include "ParserInternal.h"

namespace vopa::engine::sql::detail {

std::vector<StatementPtr> Parser::batch() {
    std::vector<StatementPtr> out;
    for (;;) {
        while (acceptOp(";")) {
        }
        if (cur().kind == TokenKind::End) break;
        out.push_back(statement(out.empty()));
    }
    return out;
}

ExprPtr Parser::expressionOnly() {
    auto e = expr();
    if (cur().kind != TokenKind::End) failHere();
    return e;
}

std::unique_ptr<SelectStmt> Parser::selectOnly() {
    auto q = query();
    while (acceptOp(";")) {
    }
    if (cur().kind != TokenKind::End) failHere();
    return q;
}

std::string Parser::name() {
    if (!atName()) failHere();
    return advance().text;
}

QualifiedName Parser::qualifiedName() {
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

std::vector<std::string> Parser::nameList() {
    std::vector<std::string> names;
    expectOp("(");
    do {
        names.push_back(name());
    } while (acceptOp(","));
    expectOp(")");
    return names;
}

std::string Parser::nameOrString() {
    if (isString(cur())) return advance().text;
    return name();
}

int Parser::integer() {
    const Token& t = cur();
    if (t.kind != TokenKind::Integer) failHere();
    int value = 0;
    auto [p, ec] = std::from_chars(t.text.data(), t.text.data() + t.text.size(), value);
    if (ec != std::errc() || p != t.text.data() + t.text.size()) failHere();
    advance();
    return value;
}

std::int64_t Parser::signedInteger() {
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

StatementPtr Parser::statement(bool batchStart) {
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

StatementPtr Parser::keywordStatement(bool batchStart) {
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
    if (k == "DECLARE") return declareStatement();

    if (k == "WITH") notSupported("common table expressions (WITH)");
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

StatementPtr Parser::selectStatement() {
    auto st = std::make_unique<SelectStatement>();
    st->select = std::move(*query());
    return st;
}

bool Parser::takesPrecision(const std::string& type) {
    return type == "decimal" || type == "numeric" || type == "dec" || type == "float";
}

bool Parser::takesFractionalSeconds(const std::string& type) {
    return type == "time" || type == "datetime2" || type == "datetimeoffset";
}

TypeName Parser::typeName() {
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

}  // namespace vopa::engine::sql::detail

namespace vopa::engine::sql {

using detail::Parser;

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
