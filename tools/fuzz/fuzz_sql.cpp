// libFuzzer target over the front of the engine: the lexer and the parser on any text, then the
// translator on every statement that parses (compiled against the FUZZ database, never run). The
// SQLite text of a query is also prepared, so that a translation SQLite refuses is found without
// running anything. Error 50000 anywhere is a finding (see FuzzDrive.h).

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzDrive.h"
#include "platform/engine/SessionImpl.h"
#include "platform/engine/sql/Parser.h"
#include "platform/engine/translate/Compiler.h"

using namespace vopa;

namespace {

engine::Session::Impl& compilerSession() {
    static engine::Session::Impl* impl = [] {
        fuzz::scratchDrive();  // a new, empty drive for each process
        {
            engine::Session master(engine::ConnectOptions{"(local)", "", "", ""});
            master.executeBatch("CREATE DATABASE FUZZ");
        }
        engine::Session setup(engine::ConnectOptions{"(local)", "FUZZ", "", ""});
        fuzz::setUp(setup);
        return new engine::Session::Impl(engine::ConnectOptions{"(local)", "FUZZ", "", ""});
    }();
    return *impl;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<engine::sql::StatementPtr> statements;
    try {
        statements = engine::sql::parseBatch(text);
    } catch (const engine::EngineError&) {
        return 0;
    }
    static fuzz::Findings findings;
    engine::Session::Impl& session = compilerSession();
    try {
        session.declareBatchVariables(statements);
    } catch (const engine::EngineError& e) {
        findings.check(e, text);
    }
    for (const engine::sql::StatementPtr& st : statements) {
        try {
            session.functions.clear();
            session.unpinAll();
            session.compileNames(*st);
            if (st->kind == engine::sql::StatementKind::Select) {
                engine::translate::Compiler compiler(session);
                const auto& select = static_cast<const engine::sql::SelectStatement&>(*st).select;
                session.db->prepare(compiler.select(select, nullptr, false, true).sql);
            }
        } catch (const engine::EngineError& e) {
            findings.check(e, text);
        } catch (const std::exception& e) {
            const std::string message = std::string("Internal error of the embedded engine: ") + e.what();
            findings.check(engine::EngineError(50000, message), text);
        }
        try {
            session.dropCatalogViews();
        } catch (const engine::EngineError&) {
        }
    }
    return 0;
}
