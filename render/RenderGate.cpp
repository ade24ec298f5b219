#include "render/RenderGate.h"

#include <algorithm>
#include <chrono>

#include "net/TNetInterrupt.h"
#include "render/RenderSettings.h"

namespace veilex {

TRenderGate::TRenderGate(int slots) : slots_(std::max(slots, 1)) {}

TRenderGate& TRenderGate::Shared() {
  static TRenderGate gate(kMaxBrowsers);
  return gate;
}

bool TRenderGate::Acquire() {
  const TNetInterrupt* interrupt = TNetInterrupt::Current();
  std::unique_lock lock(mutex_);
  // The interrupt is a flag, not a notification: look at it every slice.
  while (running_ >= slots_) {
    if (interrupt != nullptr && interrupt->Interrupted()) return false;
    freed_.wait_for(lock, std::chrono::milliseconds(kInterruptSliceMs));
  }
  if (interrupt != nullptr && interrupt->Interrupted()) return false;
  ++running_;
  peak_ = std::max(peak_, running_);
  return true;
}

void TRenderGate::Release() {
  {
    std::lock_guard lock(mutex_);
    --running_;
  }
  freed_.notify_one();
}

int TRenderGate::Running() const {
  std::lock_guard lock(mutex_);
  return running_;
}

int TRenderGate::Peak() const {
  std::lock_guard lock(mutex_);
  return peak_;
}

}  // namespace veilex
