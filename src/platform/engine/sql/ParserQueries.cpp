// SELECT: queries, set operations, select lists, FROM clauses, joins and table hints.

#include "ParserInternal.h"

namespace vopa::engine::sql::detail {

std::unique_ptr<SelectStmt> Parser::query() {
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

std::unique_ptr<SelectStmt> Parser::queryTerm() {
    if (acceptOp("(")) {
        auto q = query();
        expectOp(")");
        return q;
    }
    if (!atKw("SELECT")) failHere();
    return selectCore();
}

bool Parser::parenStartsQuery() const {
    std::size_t i = pos_;
    while (i < toks_.size() && isOp(toks_[i], "(")) ++i;
    return i > pos_ && i < toks_.size() && isKw(toks_[i], "SELECT");
}

std::unique_ptr<SelectStmt> Parser::selectCore() {
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

ExprPtr Parser::topValue(bool bareAllowed) {
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

bool Parser::qualifiedStarAhead() const {
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

SelectItem Parser::selectItem() {
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

std::vector<TableRefPtr> Parser::tableList() {
    std::vector<TableRefPtr> refs;
    do {
        refs.push_back(tableSource());
    } while (acceptOp(","));
    return refs;
}

TableRefPtr Parser::tableSource() {
    Nesting guard(*this);
    return joins(tablePrimary());
}

bool Parser::atJoin() const {
    return atKw("JOIN") || atKw("INNER") || atKw("LEFT") || atKw("RIGHT") || atKw("FULL") || atKw("CROSS");
}

void Parser::rejectJoinHint() const {
    if (isWordOneOf(cur(), {"LOOP", "HASH", "REMOTE"}) || atKw("MERGE")) notSupported("join hints");
}

TableRefPtr Parser::joins(TableRefPtr left) {
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

TableRefPtr Parser::tablePrimary() {
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

bool Parser::oldStyleHintAhead() const {
    return atOp("(") && isTableHintWord(peek(1)) && (isOp(peek(2), ")") || isOp(peek(2), ","));
}

std::vector<std::string> Parser::hintList() {
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

}  // namespace vopa::engine::sql::detail
