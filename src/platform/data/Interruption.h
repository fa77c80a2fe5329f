#pragma once
// Stopping long work between two statements. The work runs inside an InterruptionScope on its thread;
// once the scope's flag is set (by the window, by a signal handler), the next statement, opening or
// row save the data layer is asked for on that thread throws Interrupted instead — the statement that
// was running completes first, so nothing is cut in half.

#include <atomic>
#include <exception>

namespace vopa::data {

// Not a runtime error on purpose: no "resume next" step skips it, it ends the work that asked for it.
class Interrupted final : public std::exception {
public:
    const char* what() const noexcept override { return "Creazione interrotta dall'operatore."; }
};

class InterruptionScope {
public:
    explicit InterruptionScope(const std::atomic<bool>& stop);
    ~InterruptionScope();
    InterruptionScope(const InterruptionScope&) = delete;
    InterruptionScope& operator=(const InterruptionScope&) = delete;

private:
    const std::atomic<bool>* previous_;
};

// Lifts the check on this thread while it lives: the clean-up after an interruption must run.
class InterruptionPause {
public:
    InterruptionPause();
    ~InterruptionPause();
    InterruptionPause(const InterruptionPause&) = delete;
    InterruptionPause& operator=(const InterruptionPause&) = delete;

private:
    const std::atomic<bool>* previous_;
};

// Throws Interrupted when this thread's work has been asked to stop.
void checkInterruption();

}  // namespace vopa::data
