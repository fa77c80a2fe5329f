// Row changes: INSERT, UPDATE, DELETE and TRUNCATE TABLE.

#include "ParserInternal.h"

namespace vopa::engine::sql::detail {

void Parser::skipTargetHints() {
    if (atKw("WITH") && isOp(peek(), "(")) {
        advance();
        hintList();
    }
}

StatementPtr Parser::insertStatement() {
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

ExprPtr Parser::changeTop() {
    if (!acceptKw("TOP")) return nullptr;
    auto top = topValue(false);
    if (atKw("PERCENT")) notSupported("TOP ... PERCENT in UPDATE and DELETE");
    return top;
}

ExprPtr Parser::whereOfChange() {
    if (!acceptKw("WHERE")) return nullptr;
    if (atKw("CURRENT") && isKw(peek(), "OF")) notSupported("cursors");
    return expr();
}

StatementPtr Parser::updateStatement() {
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

Assignment Parser::assignment() {
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

StatementPtr Parser::deleteStatement() {
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

StatementPtr Parser::truncateStatement() {
    auto st = std::make_unique<TruncateStatement>();
    advance();
    expectKw("TABLE");
    st->table = qualifiedName();
    return st;
}

}  // namespace vopa::engine::sql::detail
