#pragma once
// The scratch drive C: of a fuzzing run: a new temporary folder that VOPA_DRIVE_C points at, with one
// database (FUZZ) holding a few tables of the shapes the program uses. Internal failures of the engine
// (error 50000) are findings: each distinct message is written once to stderr, and with
// VOPA_FUZZ_STRICT=1 the run stops at the first one.

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/engine/Session.h"

namespace vopa::fuzz {

inline const std::filesystem::path& scratchDrive() {
    static const std::filesystem::path root = [] {
        char pattern[] = "/tmp/vopa-fuzz-XXXXXX";
        const char* made = mkdtemp(pattern);
        std::filesystem::path p = made ? made : "/tmp/vopa-fuzz";
        std::filesystem::create_directories(p);
        setenv("VOPA_DRIVE_C", p.c_str(), 1);
        return p;
    }();
    return root;
}

// The batches that give a fresh FUZZ database its tables and rows (CREATE VIEW must be a batch of its
// own). A setup that fails would leave the fuzzers working on an empty database, finding nothing: it
// stops the run instead.
inline void setUp(engine::Session& session) {
    static const char* const kBatches[] = {
        "CREATE TABLE conti (IdConto int IDENTITY(1,1) NOT NULL, Codice varchar(10) NULL,"
        " Descrizione nvarchar(50) NULL, Importo money NULL, Data datetime NULL, Quota decimal(19,4) NULL,"
        " Attivo bit NOT NULL DEFAULT 1,"
        " CONSTRAINT PK_conti PRIMARY KEY (IdConto), CONSTRAINT UQ_conti_codice UNIQUE (Codice))\n"
        "CREATE TABLE righe (IdRiga int NOT NULL PRIMARY KEY, IdConto int NULL, Nota char(5) NULL, Valore float NULL,"
        " Piccolo tinyint NULL, Grande bigint NULL)\n"
        "CREATE INDEX IX_righe_conto ON righe (IdConto)\n"
        "INSERT INTO conti (Codice, Descrizione, Importo, Data, Quota)"
        " VALUES ('A1', N'Cassa', 10.5, '20000101', 1.25)\n"
        "INSERT INTO conti (Codice, Descrizione, Importo, Data, Quota)"
        " VALUES ('b2', N'Àbaco', -3, '2009-3-5', NULL)\n"
        "INSERT INTO righe VALUES (1, 1, 'ab', 1.5, 255, 9223372036854775807)\n"
        "INSERT INTO righe VALUES (2, NULL, NULL, NULL, 0, -1)\n",
        "CREATE VIEW vista AS SELECT IdConto, Descrizione FROM conti",
    };
    for (const char* batch : kBatches)
        for (const engine::StatementOutcome& o : session.executeBatch(batch))
            if (o.error) {
                std::cerr << "fuzz setup failed: " << o.error->what() << "\n";
                std::abort();
            }
}

// Error 50000 is the engine's own failure: a translation SQLite refuses ("Storage error: ..."), a
// statement text that is not one statement, or an exception of the engine. Each is a finding, also
// when it follows another error.
class Findings {
public:
    void check(const std::vector<engine::StatementOutcome>& outcomes, const std::string& input) {
        for (const engine::StatementOutcome& o : outcomes) {
            if (o.error) check(*o.error, input);
            for (const engine::EngineError& e : o.followingErrors) check(e, input);
        }
    }

    void check(const engine::EngineError& e, const std::string& input) {
        if (e.number() != 50000) return;
        const std::string message = e.what();
        if (seen_.insert(message).second) std::cerr << "FINDING (50000): " << message << "\n  input: " << input << "\n";
        if (std::getenv("VOPA_FUZZ_STRICT")) std::abort();
    }

private:
    std::set<std::string> seen_;
};

}  // namespace vopa::fuzz
