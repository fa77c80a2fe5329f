// libFuzzer target over whole batches: any text runs as one batch on a session of the FUZZ database,
// inside a transaction that is rolled back afterwards (a batch that commits leaves its changes, and
// every thousand inputs the database is made anew). A crash, a sanitizer report or a hang is a
// finding, and so is an internal failure of the engine (error 50000, see FuzzDrive.h).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "FuzzDrive.h"

using namespace vopa;

namespace {

fuzz::Findings findings;

std::unique_ptr<engine::Session> freshDatabase() {
    fuzz::scratchDrive();
    {
        engine::Session master(engine::ConnectOptions{"(local)", "", "", ""});
        master.executeBatch("IF EXISTS (SELECT * FROM master.dbo.sysdatabases WHERE name = 'FUZZ') DROP DATABASE FUZZ");
        master.executeBatch("CREATE DATABASE FUZZ");
    }
    auto session = std::make_unique<engine::Session>(engine::ConnectOptions{"(local)", "FUZZ", "", ""});
    fuzz::setUp(*session);
    return session;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::unique_ptr<engine::Session> session;
    static int runs = 0;
    if (size > 4096) return -1;  // long inputs add nothing but time
    if (!session || ++runs % 1000 == 0) {
        session.reset();
        session = freshDatabase();
    }
    const std::string text(reinterpret_cast<const char*>(data), size);
    session->executeBatch("BEGIN TRANSACTION");
    findings.check(session->executeBatch(text), text);
    session->executeBatch("IF @@TRANCOUNT > 0 ROLLBACK");
    // A batch may leave another database current; the next one starts in FUZZ again.
    session->executeBatch("USE FUZZ");
    return 0;
}
