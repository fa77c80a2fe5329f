#pragma once
// A compile context without any file: the databases FUZZ and master as catalogs held in memory, with
// the tables FuzzDrive.h's setup gives the FUZZ database (conti, righe and the view vista), and a
// session's settings as a new connection has them. The translator compiles against it exactly as
// against a session, but nothing is attached, opened, locked or run.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/engine/EngineError.h"
#include "platform/engine/sql/Ast.h"
#include "platform/engine/translate/CompileContext.h"
#include "platform/engine/translate/Compiler.h"
#include "platform/text/Text.h"

namespace vopa::fuzz {

class CompileStub final : public engine::translate::CompileContext {
public:
    CompileStub() {
        using engine::BaseType;
        using engine::SqlType;
        using engine::storage::TableInfo;
        auto column = [](int id, std::string name, SqlType type, bool nullable = true) {
            engine::storage::ColumnInfo c;
            c.id = id;
            c.name = std::move(name);
            c.type = type;
            c.nullable = nullable;
            return c;
        };
        auto key = [](int id, std::string name, std::vector<int> columns, bool primary) {
            engine::storage::IndexInfo i;
            i.id = id;
            i.name = std::move(name);
            i.unique = true;
            i.primaryKey = primary;
            i.uniqueConstraint = !primary;
            i.columnIds = std::move(columns);
            i.descending.assign(i.columnIds.size(), false);
            return i;
        };

        TableInfo conti;
        conti.objectId = 100001;
        conti.name = "conti";
        conti.columns = {column(1, "IdConto", SqlType::of(BaseType::Int), false),
                         column(2, "Codice", SqlType::varchar(10)),
                         column(3, "Descrizione", SqlType::nvarchar(50)),
                         column(4, "Importo", SqlType::of(BaseType::Money)),
                         column(5, "Data", SqlType::of(BaseType::DateTime)),
                         column(6, "Quota", SqlType::decimal(19, 4)),
                         column(7, "Attivo", SqlType::of(BaseType::Bit), false)};
        conti.columns[0].identity = true;
        conti.columns[6].defaultText = "((1))";
        conti.indexes = {key(1, "PK_conti", {1}, true), key(2, "UQ_conti_codice", {2}, false)};

        TableInfo righe;
        righe.objectId = 100002;
        righe.name = "righe";
        SqlType nota = SqlType::of(BaseType::Char);
        nota.length = 5;
        righe.columns = {column(1, "IdRiga", SqlType::of(BaseType::Int), false),
                         column(2, "IdConto", SqlType::of(BaseType::Int)),
                         column(3, "Nota", nota),
                         column(4, "Valore", SqlType::of(BaseType::Float)),
                         column(5, "Piccolo", SqlType::of(BaseType::TinyInt)),
                         column(6, "Grande", SqlType::of(BaseType::BigInt))};
        righe.indexes = {key(1, "PK_righe", {1}, true)};

        TableInfo vista;
        vista.objectId = 100003;
        vista.name = "vista";
        vista.type = TableInfo::Type::View;
        vista.viewText = "SELECT IdConto, Descrizione FROM conti";
        vista.columns = {column(1, "IdConto", SqlType::of(BaseType::Int), false),
                         column(2, "Descrizione", SqlType::nvarchar(50))};

        TableInfo sysdatabases;
        sysdatabases.objectId = 1;
        sysdatabases.name = "sysdatabases";
        sysdatabases.type = TableInfo::Type::System;
        sysdatabases.columns = {column(1, "name", SqlType::nvarchar(128)),
                                column(2, "dbid", SqlType::of(BaseType::SmallInt)),
                                column(3, "filename", SqlType::nvarchar(260))};

        add(1, "master", {sysdatabases});
        add(5, "FUZZ", {conti, righe, vista});
        current_ = "FUZZ";
    }

    // Before each batch: its variables. Throws as the session does (134, 2715, 2739).
    void declare(const std::vector<engine::sql::StatementPtr>& statements) {
        variables_.clear();
        variables_ = engine::translate::declareVariables(statements);
    }
    // USE: the database unqualified names resolve in.
    void use(const std::string& name) { current_ = database(name).name; }
    // Before each statement, as the session starts one.
    void startStatement() { functions_.clear(); }

    // The database a name designates, as the session names its errors.
    engine::DatabaseHandle database(const std::string& name) override {
        const std::string wanted = name.empty() ? current_ : name;
        auto it = databases_.find(text::toUpper(wanted));
        if (it == databases_.end())
            throw engine::EngineError(engine::err::DatabaseMissing, "Database '" + wanted +
                                                                        "' does not exist. Make sure that the name is "
                                                                        "entered correctly.");
        return it->second;
    }

    engine::TableHandle table(const engine::sql::QualifiedName& name, bool required) override {
        const auto& parts = name.parts;
        const std::string databaseName = parts.size() >= 3 ? parts[parts.size() - 3] : std::string();
        engine::TableHandle t;
        t.db = database(databaseName);
        if (!parts.empty()) t.table = t.db.catalog->find(parts.back());
        // master's list of databases shows in every database.
        if (!t.table && databaseName.empty() && !parts.empty() && text::equalsNoCase(parts.back(), "sysdatabases")) {
            t.db = database("master");
            t.table = t.db.catalog->find(parts.back());
        }
        if (!t.table && required)
            throw engine::EngineError(engine::err::InvalidObject, "Invalid object name '" + name.text() + "'.");
        return t;
    }

    std::string currentDatabase() const override { return current_; }
    std::string resolveNamesIn(const std::string& name) override { return std::exchange(current_, name); }
    const engine::BatchVariable& variable(const std::string& name, std::size_t usedAt) override {
        return engine::translate::findVariable(variables_, name, usedAt);
    }

    const engine::storage::Language& language() const override { return engine::storage::defaultLanguage(); }
    int dateFirst() const override { return 7; }
    int lockTimeout() const override { return -1; }
    std::string serverName() const override { return "MSSQLSERVER"; }
    int transactionDepth() const override { return 0; }

    std::optional<std::int64_t> lastInsertedIdentity() override { return std::nullopt; }
    std::int64_t identCurrent(const engine::TableHandle& t) override {
        const engine::storage::ColumnInfo* id = t.table ? t.table->identityColumn() : nullptr;
        return id ? id->seed : 0;
    }

    engine::storage::FunctionContext& functions() override { return functions_; }

private:
    void add(std::int64_t dbid, const std::string& name, std::vector<engine::storage::TableInfo> tables) {
        engine::DatabaseHandle h;
        h.alias = "d" + std::to_string(dbid);
        h.dbid = dbid;
        h.name = name;
        h.catalog = engine::storage::DatabaseCatalog::of(name, std::move(tables));
        databases_[text::toUpper(name)] = std::move(h);
    }

    std::map<std::string, engine::DatabaseHandle> databases_;  // by upper-case name
    std::string current_;
    engine::translate::Variables variables_;
    engine::storage::FunctionContext functions_;
};

}  // namespace vopa::fuzz
