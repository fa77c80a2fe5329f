// libFuzzer target over the front of the engine: the lexer and the parser on any text, then the
// translator on every statement that parses, compiled against a stub of the session (CompileStub.h:
// the FUZZ database's tables as catalogs in memory, no file, no SQLite database), so that only the
// parser and the translator run. Error 50000 anywhere is a finding (see FuzzDrive.h).

#include <cstddef>
#include <cstdint>
#include <string>

#include "CompileStub.h"
#include "FuzzDrive.h"
#include "platform/engine/sql/Parser.h"
#include "platform/engine/translate/Compiler.h"

using namespace vopa;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<engine::sql::StatementPtr> statements;
    try {
        statements = engine::sql::parseBatch(text);
    } catch (const engine::EngineError&) {
        return 0;
    }
    static fuzz::Findings findings;
    static fuzz::CompileStub context;
    try {
        context.declare(statements);
    } catch (const engine::EngineError& e) {
        findings.check(e, text);
    }
    for (const engine::sql::StatementPtr& st : statements) {
        try {
            context.startStatement();
            engine::translate::compileStatement(context, *st);
        } catch (const engine::EngineError& e) {
            findings.check(e, text);
        } catch (const std::exception& e) {
            const std::string message = std::string("Internal error of the embedded engine: ") + e.what();
            findings.check(engine::EngineError(50000, message), text);
        }
    }
    return 0;
}
