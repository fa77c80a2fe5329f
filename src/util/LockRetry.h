#pragma once
// Saving a recordset row when another user may hold the row or table: the update is tried again while
// it fails with a lock conflict, at most kLockRetryAttempts times, kLockRetryPause apart.

#include <chrono>
#include <functional>

#include "platform/data/Recordset.h"

namespace vopa::util {

// 20 attempts, 250 ms apart: a lock held by another workstation for up to about five seconds is waited
// out; a longer one is reported instead of freezing the window.
inline constexpr int kLockRetryAttempts = 20;
inline constexpr std::chrono::milliseconds kLockRetryPause{250};

// True for the errors that mean "locked by another user or changed under us": 3260, 3197, 3218, and the
// server's lock time-out 1222.
bool isLockConflict(int number);

// Runs `update` until it succeeds, fails with an error that is not a lock conflict (passed on), or has
// failed `attempts` times with conflicts (the last conflict is passed on).
void retryOnLock(const std::function<void()>& update, int attempts = kLockRetryAttempts,
                 std::chrono::milliseconds pause = kLockRetryPause);

// The plain variant: updates the current row; a failure other than a lock conflict goes to the caller.
void updateWithLockRetry(data::Recordset& rs);

// The reporting variant: a provider's failure is shown in an OK-only box with its description; the data
// layer's own refusals (no current row, not updatable, ...) are dropped. Never throws.
void updateWithLockRetryReporting(data::Recordset& rs);

}  // namespace vopa::util
