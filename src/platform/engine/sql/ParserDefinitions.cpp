// Definitions: CREATE/ALTER/DROP of tables, columns, constraints, indexes, views and databases.

#include "ParserInternal.h"

namespace vopa::engine::sql::detail {

StatementPtr Parser::createStatement(bool batchStart) {
    advance();
    const Token& t = cur();
    if (isKw(t, "TABLE")) return createTable();
    if (isKw(t, "DATABASE")) return createDatabase();
    if (isKwOneOf(t, {"INDEX", "UNIQUE", "CLUSTERED", "NONCLUSTERED"})) return createIndex();
    if (isKw(t, "VIEW")) return createView(batchStart);
    if (isWord(t, "LOGIN")) return loginStatement(LoginStatement::Action::Create);
    if (isKw(t, "PROC") || isKw(t, "PROCEDURE")) notSupported("CREATE PROCEDURE");
    if (isKw(t, "OR")) notSupported("CREATE OR ALTER");
    if (isKwOneOf(t, {"FUNCTION", "TRIGGER", "SCHEMA", "DEFAULT", "RULE", "STATISTICS", "USER"}) ||
        isWordOneOf(t, {"ROLE", "TYPE", "SYNONYM", "SEQUENCE", "ASSEMBLY", "FULLTEXT", "XML", "SPATIAL",
                        "COLUMNSTORE", "QUEUE", "SERVICE", "CERTIFICATE", "CREDENTIAL"}))
        notSupported("CREATE " + t.upper);
    failHere();
}

StatementPtr Parser::alterStatement() {
    advance();
    const Token& t = cur();
    if (isKw(t, "TABLE")) return alterTable();
    if (isWord(t, "LOGIN")) return loginStatement(LoginStatement::Action::Alter);
    if (isKwOneOf(t, {"DATABASE", "VIEW", "PROC", "PROCEDURE", "FUNCTION", "TRIGGER", "INDEX", "SCHEMA", "USER"}) ||
        isWordOneOf(t, {"ROLE", "SEQUENCE", "ASSEMBLY", "FULLTEXT", "QUEUE", "SERVICE", "AUTHORIZATION",
                        "SERVER"}))
        notSupported("ALTER " + t.upper);
    failHere();
}

StatementPtr Parser::dropStatement() {
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
    if (isWord(t, "LOGIN")) return loginStatement(LoginStatement::Action::Drop);
    if (isKw(t, "PROC") || isKw(t, "PROCEDURE")) notSupported("DROP PROCEDURE");
    if (isKwOneOf(t, {"FUNCTION", "TRIGGER", "SCHEMA", "DEFAULT", "RULE", "STATISTICS", "USER"}) ||
        isWordOneOf(t, {"ROLE", "TYPE", "SYNONYM", "SEQUENCE", "ASSEMBLY", "FULLTEXT", "XML", "QUEUE",
                        "SERVICE", "CERTIFICATE", "CREDENTIAL"}))
        notSupported("DROP " + t.upper);
    failHere();
}

StatementPtr Parser::loginStatement(LoginStatement::Action action) {
    using Action = LoginStatement::Action;
    advance();  // LOGIN
    auto st = std::make_unique<LoginStatement>();
    st->action = action;
    st->name = name();
    if (action == Action::Drop) return st;
    if (action == Action::Create) {
        if (acceptKw("FROM")) {
            if (atWord("WINDOWS"))
                notSupported("Windows logins (CREATE LOGIN ... FROM WINDOWS): create a SQL Server login WITH PASSWORD");
            notSupported("logins from certificates or keys");
        }
        expectKw("WITH");
        if (!atWord("PASSWORD")) failHere();
        loginOptions(*st);
        return st;
    }
    if (acceptWord("ENABLE")) {
        st->action = Action::Enable;
        return st;
    }
    if (acceptWord("DISABLE")) {
        st->action = Action::Disable;
        return st;
    }
    if (atKw("ADD") || atKw("DROP")) notSupported("credentials of logins");
    expectKw("WITH");
    loginOptions(*st);
    return st;
}

void Parser::loginOptions(LoginStatement& st) {
    const bool create = st.action == LoginStatement::Action::Create;
    do {
        const Token& option = cur();
        if (acceptWord("PASSWORD")) {
            if (st.password) failHere();
            expectOp("=");
            if (cur().kind == TokenKind::Binary) notSupported("hashed passwords (PASSWORD = 0x... HASHED)");
            st.password = loginPassword();
            if (atWord("HASHED")) notSupported("hashed passwords (PASSWORD = 0x... HASHED)");
            if (atWord("MUST_CHANGE")) notSupported("MUST_CHANGE");
            // ALTER LOGIN: OLD_PASSWORD and UNLOCK follow the new password without a comma.
            if (!create && acceptWord("OLD_PASSWORD")) {
                expectOp("=");
                st.oldPassword = loginPassword();
            }
            if (!create && atWord("UNLOCK")) notSupported("UNLOCK");
        } else if (acceptWord("DEFAULT_DATABASE")) {
            if (st.defaultDatabase) failHere();
            expectOp("=");
            st.defaultDatabase = name();
        } else if (acceptWord("CHECK_POLICY")) {
            if (st.checkPolicy) failHere();
            expectOp("=");
            st.checkPolicy = onOff() == "ON";
        } else if (acceptWord("CHECK_EXPIRATION")) {
            if (st.checkExpiration) failHere();
            expectOp("=");
            st.checkExpiration = onOff() == "ON";
        } else if (isWordOneOf(option, {"SID", "DEFAULT_LANGUAGE", "CREDENTIAL", "NAME", "NO"})) {
            notSupported("the login option " + option.upper);
        } else {
            failHere();
        }
    } while (acceptOp(","));
}

ExprPtr Parser::loginPassword() {
    const Token& t = cur();
    if (isString(t)) {
        auto e = makeExpr(Kind::Literal, t.offset);
        e->literalKind = literalKindOf(t.kind);
        e->text = t.text;
        advance();
        return e;
    }
    if (t.kind == TokenKind::Variable) {
        auto e = makeExpr(Kind::Variable, t.offset);
        e->text = t.text;
        advance();
        return e;
    }
    failHere();
}

bool Parser::ifExists() {
    if (!atKw("IF") || !isKw(peek(), "EXISTS")) return false;
    advance();
    advance();
    return true;
}

StatementPtr Parser::dropIndex() {
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

StatementPtr Parser::createTable() {
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

std::string Parser::filegroup() {
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

ColumnDef Parser::columnDef() {
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

void Parser::notForReplication() {
    expectKw("NOT");
    expectKw("FOR");
    expectKw("REPLICATION");
}

std::optional<bool> Parser::clustered() {
    if (acceptKw("CLUSTERED")) return true;
    if (acceptKw("NONCLUSTERED")) return false;
    return std::nullopt;
}

TableConstraint Parser::columnConstraint(std::string name, std::size_t offset, const std::string& column) {
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

bool Parser::atTableConstraint(bool allowDefault) const {
    return isKwOneOf(cur(), {"CONSTRAINT", "PRIMARY", "UNIQUE", "FOREIGN", "CHECK"}) ||
           (allowDefault && atKw("DEFAULT"));
}

TableConstraint Parser::tableConstraint(bool allowDefault) {
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

void Parser::checkBody(TableConstraint& k) {
    expectKw("CHECK");
    k.kind = TableConstraint::Kind::Check;
    if (atKw("NOT")) notForReplication();
    expectOp("(");
    k.expression = expr();
    expectOp(")");
}

void Parser::references(TableConstraint& k) {
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

void Parser::indexOptions(IndexOptions& o) {
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

void Parser::indexOption(IndexOptions& o, bool valueRequired) {
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

StatementPtr Parser::alterTable() {
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

void Parser::alterDrop(AlterTableStatement& st) {
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

ColumnDef Parser::alteredColumn() {
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

StatementPtr Parser::createDatabase() {
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

DatabaseFile Parser::databaseFile() {
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

std::string Parser::sizeValue(bool percentAllowed) {
    std::size_t start = cur().offset;
    if (cur().kind != TokenKind::Integer && cur().kind != TokenKind::Decimal) failHere();
    advance();
    if (isWordOneOf(cur(), {"KB", "MB", "GB", "TB"}) || (percentAllowed && atOp("%"))) advance();
    return slice(start, lastEnd_);
}

StatementPtr Parser::createIndex() {
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

StatementPtr Parser::createView(bool batchStart) {
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

}  // namespace vopa::engine::sql::detail
