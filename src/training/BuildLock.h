#pragma once
// One build at a time on a server: before a build changes anything it takes the server's application
// lock "VoPaDatiTraining build" on the registry database, owned by a session of its own. The server
// releases it when that session ends, also when the program is killed, so nothing stale is left. Beside
// it a row of CreazioneTrainingInCorso names the computer that holds it and since when, for the message
// a second build is refused with.

#include <optional>
#include <string>

#include "platform/data/Connection.h"
#include "state/GlobalState.h"

namespace vopa::training {

class BuildLock {
public:
    BuildLock() = default;
    ~BuildLock();
    BuildLock(const BuildLock&) = delete;
    BuildLock& operator=(const BuildLock&) = delete;

    // Takes the lock for this computer. Nothing when it is taken (or when the server cannot be asked:
    // the build then meets the server's own refusals); otherwise the message that names who holds it.
    std::optional<std::string> acquire(state::GlobalState& g);
    void release();
    bool held() const { return held_; }

private:
    data::Connection session_;
    bool held_ = false;
};

}  // namespace vopa::training
