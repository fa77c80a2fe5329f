#include "LockRetry.h"

#include <thread>

#include "platform/ui/MessageService.h"

namespace vopa::util {

bool isLockConflict(int number) { return number == 3260 || number == 3197 || number == 3218 || number == 1222; }

void retryOnLock(const std::function<void()>& update, int attempts, std::chrono::milliseconds pause) {
    for (int attempt = 1;; ++attempt) {
        try {
            update();
            return;
        } catch (const data::DataError& e) {
            if (!isLockConflict(e.number()) || attempt >= attempts) throw;
        }
        std::this_thread::sleep_for(pause);
    }
}

void updateWithLockRetry(data::Recordset& rs) {
    retryOnLock([&] { rs.update(); });
}

void updateWithLockRetryReporting(data::Recordset& rs) {
    try {
        updateWithLockRetry(rs);
    } catch (const data::DataError& e) {
        // The access library reported every provider failure as one "unspecified error"; its own
        // refusals carried their own numbers (3000 to 3999) and were not shown.
        const bool ownRefusal = e.number() >= 3000 && e.number() <= 3999;
        if (!ownRefusal) ui::messages().message(e.what());
    }
}

}  // namespace vopa::util
