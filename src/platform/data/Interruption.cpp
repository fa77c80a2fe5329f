#include "Interruption.h"

namespace vopa::data {
namespace {

thread_local const std::atomic<bool>* current = nullptr;

}  // namespace

InterruptionScope::InterruptionScope(const std::atomic<bool>& stop) : previous_(current) { current = &stop; }
InterruptionScope::~InterruptionScope() { current = previous_; }

InterruptionPause::InterruptionPause() : previous_(current) { current = nullptr; }
InterruptionPause::~InterruptionPause() { current = previous_; }

void checkInterruption() {
    if (current && current->load(std::memory_order_relaxed)) throw Interrupted();
}

}  // namespace vopa::data
