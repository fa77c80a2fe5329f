// The translator's pass over a batch before it runs, against a compile context that has no file behind
// it (the fuzzer's stub): which statements it refuses, and with which error.

#include <gtest/gtest.h>

#include "fuzz/CompileStub.h"
#include "platform/engine/sql/Parser.h"
#include "platform/engine/translate/Compiler.h"

using namespace vopa::engine;

namespace {

// Compiles a batch as the session does before running it; the number of the first error, 0 for none.
int compileBatch(vopa::fuzz::CompileStub& context, const std::string& batch) {
    try {
        const std::vector<sql::StatementPtr> statements = sql::parseBatch(batch);
        context.declare(statements);
        for (const sql::StatementPtr& st : statements) {
            context.startStatement();
            translate::compileStatement(context, *st);
        }
    } catch (const EngineError& e) {
        return e.number();
    }
    return 0;
}

TEST(Compile, StatementsAreCheckedBeforeTheyRun) {
    struct Case {
        const char* batch;
        int error;
    };
    const Case cases[] = {
        {"SELECT IdConto, Codice FROM conti WHERE Importo > 0", 0},
        {"SELECT Nope FROM conti", err::InvalidColumn},
        {"SELECT * FROM nessuna", err::InvalidObject},
        {"SELECT * FROM altro.dbo.conti", err::DatabaseMissing},
        {"SELECT IdConto, Descrizione FROM vista", 0},
        {"SELECT name FROM sysdatabases", 0},
        // The columns an INSERT names, the columns and values an UPDATE sets, the conditions of UPDATE
        // and DELETE, in the scope of the changed table.
        {"INSERT INTO conti (Codice, Nope) VALUES ('x', 1)", err::InvalidColumn},
        {"INSERT INTO righe (IdRiga) VALUES (Nope)", err::InvalidColumn},
        {"INSERT INTO righe (IdRiga) SELECT Nope FROM conti", err::InvalidColumn},
        {"UPDATE righe SET Nope = 1", err::InvalidColumn},
        {"UPDATE righe SET Nota = Nope", err::InvalidColumn},
        {"UPDATE righe SET Nota = 'x' WHERE Nope = 1", err::InvalidColumn},
        {"UPDATE righe SET Nota = Nota WHERE IdConto = 1", 0},
        {"DELETE FROM righe WHERE Nope = 1", err::InvalidColumn},
        {"DELETE FROM righe WHERE IdRiga = 1", 0},
        {"UPDATE sysdatabases SET name = 'x'", err::AdHocCatalogUpdate},
        {"DELETE FROM vista", err::NotSupported},
        {"IF EXISTS (SELECT Nope FROM conti) SELECT 1", err::InvalidColumn},
        // Variables: known from their DECLARE on, in the order of the text, also in a branch not taken.
        {"DECLARE @x int SET @x = 1", 0},
        {"SET @x = 1", err::UndeclaredVariable},
        {"SET @x = 1 DECLARE @x int", err::UndeclaredVariable},
        {"IF 1 = 0 DECLARE @x int SET @x = 2", 0},
        {"DECLARE @x int SET @x = @y", err::UndeclaredVariable},
        {"DECLARE @x int SELECT IdConto FROM conti WHERE IdConto = @x", 0},
        {"EXEC @s = sp_configure", err::UndeclaredVariable},
        {"DECLARE @x int DECLARE @X int", err::VariableRedeclared},
        {"DECLARE @t text", err::LobVariable},
        {"DECLARE @x nonsuch", err::UnknownType},
    };
    for (const Case& c : cases) {
        vopa::fuzz::CompileStub context;
        EXPECT_EQ(compileBatch(context, c.batch), c.error) << c.batch;
    }
}

TEST(Compile, AViewResolvesItsNamesInItsOwnDatabase) {
    vopa::fuzz::CompileStub context;
    context.use("master");
    // The view's "conti" is FUZZ's: resolved in master it would not exist.
    EXPECT_EQ(compileBatch(context, "SELECT IdConto FROM FUZZ.dbo.vista"), 0);
    // The reader's names resolve where they did before.
    EXPECT_EQ(context.currentDatabase(), "master");
    EXPECT_EQ(compileBatch(context, "SELECT IdConto FROM conti"), err::InvalidObject);
}

}  // namespace
