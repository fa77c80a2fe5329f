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
        {"SELECT * FROM altro.dbo.conti", err::DatabaseMissing},
        {"SELECT IdConto, Descrizione FROM vista", 0},
        {"SELECT name FROM sysdatabases", 0},
        // The columns an INSERT names, the columns and values an UPDATE sets, the conditions of UPDATE
        // and DELETE, in the scope of the changed table.
        {"INSERT INTO conti (Codice, Nope) VALUES ('x', 1)", err::InvalidColumn},
        {"INSERT INTO righe (IdRiga) VALUES (Nope)", err::InvalidColumn},
        {"INSERT INTO righe (IdRiga) SELECT Nope FROM conti", err::InvalidColumn},
        {"UPDATE righe SET Nota = Nope", err::InvalidColumn},
        {"UPDATE righe SET Nota = 'x' WHERE Nope = 1", err::InvalidColumn},
        {"UPDATE righe SET Nota = Nota WHERE IdConto = 1", 0},
        {"DELETE FROM righe WHERE Nope = 1", err::InvalidColumn},
        {"DELETE FROM righe WHERE IdRiga = 1", 0},
        {"DELETE FROM vista", err::NotSupported},
        // Variables: known from their DECLARE on, also in a branch not taken. (A missing table or column of a
        // SELECT, UPDATE SET or IF EXISTS, a variable used before its DECLARE or declared twice, text and
        // unknown types for variables and updates of sysdatabases are run by errors.test,
        // grouping_and_compilation.test, variables.test and system_catalogs.test.)
        {"DECLARE @x int SET @x = 1", 0},
        {"IF 1 = 0 DECLARE @x int SET @x = 2", 0},
        {"DECLARE @x int SET @x = @y", err::UndeclaredVariable},
        {"DECLARE @x int SELECT IdConto FROM conti WHERE IdConto = @x", 0},
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
