// Expressions: operators by precedence, predicates, function calls, CAST/CONVERT, CASE.

#include "ParserInternal.h"

namespace vopa::engine::sql::detail {

ExprPtr Parser::expr() { return orExpr(); }

ExprPtr Parser::orExpr() {
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

ExprPtr Parser::andExpr() {
    auto left = notExpr();
    Chain chain(*this);
    while (acceptKw("AND")) {
        chain.add();
        auto right = notExpr();
        left = makeBinary("AND", std::move(left), std::move(right));
    }
    return left;
}

ExprPtr Parser::notExpr() {
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

ExprPtr Parser::predicate() {
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

bool Parser::atAdditiveOp() const {
    const Token& t = cur();
    return t.kind == TokenKind::Operator && t.text.size() == 1 &&
           std::string_view("+-&|^").find(t.text[0]) != std::string_view::npos;
}

ExprPtr Parser::additive() {
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

ExprPtr Parser::multiplicative() {
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

ExprPtr Parser::unary() {
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

ExprPtr Parser::primary() {
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

ExprPtr Parser::keywordPrimary() {
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

ExprPtr Parser::parenthesized() {
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

ExprPtr Parser::functionCall(QualifiedName name) {
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

ExprPtr Parser::castExpr() {
    auto e = makeExpr(Kind::Cast, advance().offset);
    expectOp("(");
    e->args.push_back(expr());
    expectKw("AS");
    e->type = typeName();
    expectOp(")");
    return e;
}

ExprPtr Parser::convertExpr() {
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

ExprPtr Parser::caseExpr() {
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

ExprPtr Parser::existsExpr() {
    auto e = makeExpr(Kind::Exists, advance().offset);
    expectOp("(");
    e->subquery = query();
    expectOp(")");
    return e;
}

}  // namespace vopa::engine::sql::detail
