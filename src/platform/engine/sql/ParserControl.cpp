// Control of flow, transactions, SET options, EXECUTE, RECONFIGURE and USE.

#include "ParserInternal.h"

namespace vopa::engine::sql::detail {

StatementPtr Parser::ifStatement() {
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

StatementPtr Parser::beginStatement() {
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

void Parser::transactionName() {
    if (atName() || cur().kind == TokenKind::Variable) advance();
}

StatementPtr Parser::endTransaction(TransactionStatement::Action action) {
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

StatementPtr Parser::setStatement() {
    advance();
    const Token& t = cur();
    if (t.kind == TokenKind::Variable) return setVariable();
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

StatementPtr Parser::setVariable() {
    auto st = std::make_unique<SetVariableStatement>();
    const Token& v = advance();
    if (v.text.rfind("@@", 0) == 0) fail(v);
    st->name = v.text;
    st->nameOffset = v.offset;
    const Token& op = cur();
    if (isOp(op, "=")) {
        advance();
        if (atKw("CURSOR")) notSupported("cursors");
        st->value = expr();
    } else if (isCompoundAssignment(op)) {
        // @a += x is @a = @a + x.
        advance();
        auto self = makeExpr(Kind::Variable, v.offset);
        self->text = v.text;
        st->value = makeBinary(op.text.substr(0, 1), std::move(self), expr());
    } else {
        failHere();
    }
    return st;
}

StatementPtr Parser::declareStatement() {
    auto st = std::make_unique<DeclareStatement>();
    advance();
    do {
        const Token& v = cur();
        if (v.kind != TokenKind::Variable) {
            if (isName(v) && (isKw(peek(), "CURSOR") || isWord(peek(), "CURSOR") || isWord(peek(), "INSENSITIVE") ||
                              isWord(peek(), "SCROLL")))
                notSupported("cursors");
            failHere();
        }
        if (v.text.rfind("@@", 0) == 0) fail(v);
        DeclareStatement::Variable var;
        var.name = advance().text;
        var.offset = v.offset;
        acceptKw("AS");
        if (atKw("TABLE")) notSupported("table variables");
        if (atKw("CURSOR")) notSupported("cursors");
        var.type = typeName();
        if (acceptOp("=")) var.value = expr();
        st->variables.push_back(std::move(var));
    } while (acceptOp(","));
    return st;
}

std::string Parser::onOff() {
    if (!atKw("ON") && !atKw("OFF")) failHere();
    return advance().upper;
}

std::string Parser::setValue() {
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

StatementPtr Parser::executeStatement() {
    advance();
    return executeBody();
}

StatementPtr Parser::executeBody() {
    if (atOp("(") || isString(cur())) notSupported("dynamic SQL (EXEC of a string)");
    auto st = std::make_unique<ExecuteStatement>();
    if (cur().kind == TokenKind::Variable && isOp(peek(), "=")) {
        const Token& v = advance();
        if (v.text.rfind("@@", 0) == 0) fail(v);
        st->statusVariable = v.text;
        st->statusVariableOffset = v.offset;
        advance();
        if (atOp("(") || isString(cur())) notSupported("dynamic SQL (EXEC of a string)");
    }
    if (cur().kind == TokenKind::Variable) notSupported("EXEC of a procedure named by a variable");
    st->procedure = qualifiedName();
    if (atExecArgument()) {
        do {
            st->arguments.push_back(execArgument());
        } while (acceptOp(","));
    }
    if (atKw("WITH") && isWordOneOf(peek(), {"RECOMPILE", "RESULT"})) notSupported("EXEC ... WITH options");
    return st;
}

bool Parser::atExecArgument() const {
    const Token& t = cur();
    return isLiteral(t) || isName(t) || t.kind == TokenKind::Variable || isKw(t, "NULL") || isKw(t, "DEFAULT") ||
           ((isOp(t, "-") || isOp(t, "+")) && isNumber(peek()));
}

ExecArgument Parser::execArgument() {
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

StatementPtr Parser::reconfigureStatement() {
    auto st = std::make_unique<ReconfigureStatement>();
    advance();
    if (acceptKw("WITH")) {
        expectWord("OVERRIDE");
        st->withOverride = true;
    }
    return st;
}

StatementPtr Parser::useStatement() {
    auto st = std::make_unique<UseStatement>();
    advance();
    st->database = name();
    return st;
}

}  // namespace vopa::engine::sql::detail
