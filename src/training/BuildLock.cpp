#include "BuildLock.h"

#include "config/ConfigFiles.h"
#include "config/ConnectionStrings.h"
#include "platform/data/Recordset.h"
#include "util/ErrorModes.h"
#include "util/Helpers.h"

namespace vopa::training {
namespace {

const char* const kTake =
    "DECLARE @result int; EXEC @result = sp_getapplock @Resource = N'VoPaDatiTraining build', "
    "@LockMode = 'Exclusive', @LockOwner = 'Session', @LockTimeout = 0; SELECT @result AS result";
const char* const kRelease =
    "EXEC sp_releaseapplock @Resource = N'VoPaDatiTraining build', @LockOwner = 'Session'";
const char* const kHolderTable =
    "IF OBJECT_ID('CreazioneTrainingInCorso') IS NULL "
    "CREATE TABLE CreazioneTrainingInCorso (Computer nvarchar(255) NULL, Dal datetime NULL)";

}  // namespace

BuildLock::~BuildLock() {
    try {
        release();
    } catch (...) {
        // The session's end releases the lock in any case.
    }
}

std::optional<std::string> BuildLock::acquire(state::GlobalState& g) {
    if (held_) return std::nullopt;
    int status = 0;
    const bool asked = util::ignoreErrors([&] {
        session_.open(config::registryConnection(config::readServerAddress(g)));
        auto rs = session_.execute(kTake);
        status = static_cast<int>(rs->field("result").toDouble());
    });
    if (!asked) {
        if (session_.isOpen()) util::ignoreErrors([&] { session_.close(); });
        return std::nullopt;
    }
    if (status >= 0) {
        held_ = true;
        util::ignoreErrors([&] {
            session_.execute(kHolderTable);
            session_.execute("DELETE FROM CreazioneTrainingInCorso");
            session_.execute("INSERT INTO CreazioneTrainingInCorso (Computer, Dal) VALUES (" +
                             util::unicodeLiteral(g.ComputerName) + ", GETDATE())");
        });
        return std::nullopt;
    }
    std::string holder;
    util::ignoreErrors([&] {
        auto rs = session_.execute("SELECT Computer, Dal FROM CreazioneTrainingInCorso");
        if (rs && rs->isOpen() && !rs->eof())
            holder = " sul computer " + rs->field("Computer").toString() + " dal " +
                     rs->field("Dal").toString().substr(0, 16);  // to the minute
    });
    util::ignoreErrors([&] { session_.close(); });
    return "La creazione del database di training è già in corso" + (holder.empty() ? " su un altro computer" : holder) +
           ".\nRiprovare quando sarà terminata.";
}

void BuildLock::release() {
    if (!session_.isOpen()) return;
    if (held_) {
        util::ignoreErrors([&] { session_.execute("DELETE FROM CreazioneTrainingInCorso"); });
        util::ignoreErrors([&] { session_.execute(kRelease); });
    }
    held_ = false;
    util::ignoreErrors([&] { session_.close(); });
}

}  // namespace vopa::training
