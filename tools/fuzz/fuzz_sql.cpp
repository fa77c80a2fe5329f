// libFuzzer target over the front of the engine: the lexer and the parser on any text, then the
// translator on every statement that parses (compiled against the FUZZ database, never run).

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzDrive.h"
#include "platform/engine/SessionImpl.h"
#include "platform/engine/sql/Parser.h"

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
        setup.executeBatch(fuzz::kSetup);
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
    engine::Session::Impl& session = compilerSession();
    for (const engine::sql::StatementPtr& st : statements) {
        try {
            session.compileNames(*st);
        } catch (const engine::EngineError&) {
        }
        try {
            session.dropCatalogViews();
        } catch (const engine::EngineError&) {
        }
    }
    return 0;
}
