#include "net/TNetInterrupt.h"

namespace veilex {

namespace {
thread_local TNetInterrupt* current_interrupt = nullptr;
}  // namespace

TNetInterrupt* TNetInterrupt::Current() { return current_interrupt; }

TNetInterruptScope::TNetInterruptScope(TNetInterrupt* interrupt) : previous_(current_interrupt) {
  current_interrupt = interrupt;
}

TNetInterruptScope::~TNetInterruptScope() { current_interrupt = previous_; }

}  // namespace veilex
