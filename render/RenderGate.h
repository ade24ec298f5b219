// TRenderGate: lets at most a fixed number of browsers run at once. A fetch
// takes a slot (TRenderSlot) before it starts its browser and gives it back
// when the browser is gone; a thread waiting for a slot gives up when its
// interrupt (net/TNetInterrupt.h) is raised. Any thread; Shared() is the
// program's one gate, of kMaxBrowsers slots.
#pragma once

#include <condition_variable>
#include <mutex>

namespace veilex {

class TRenderGate {
 public:
  explicit TRenderGate(int slots);
  TRenderGate(const TRenderGate&) = delete;
  TRenderGate& operator=(const TRenderGate&) = delete;

  static TRenderGate& Shared();

  // Waits for a free slot and takes it. False, taking nothing, when the
  // calling thread's interrupt was raised first.
  bool Acquire();
  void Release();

  int Running() const;
  // The most slots ever taken at once.
  int Peak() const;

 private:
  const int slots_;
  mutable std::mutex mutex_;
  std::condition_variable freed_;
  int running_ = 0;
  int peak_ = 0;
};

// A slot of a gate held for the length of a scope; Taken() says whether the
// wait for it succeeded.
class TRenderSlot {
 public:
  explicit TRenderSlot(TRenderGate& gate) : gate_(gate), taken_(gate.Acquire()) {}
  ~TRenderSlot() {
    if (taken_) gate_.Release();
  }
  TRenderSlot(const TRenderSlot&) = delete;
  TRenderSlot& operator=(const TRenderSlot&) = delete;

  bool Taken() const { return taken_; }

 private:
  TRenderGate& gate_;
  bool taken_;
};

}  // namespace veilex
