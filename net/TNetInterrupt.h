// TNetInterrupt: lets one thread cut short the socket waits of another. A
// thread that runs under an interrupt (TNetInterruptScope) sees every socket
// wait it starts fail with ECANCELED once Interrupt() has been called, the
// one under way included (within kInterruptSliceMs); the connect thread of a
// connect under a deadline inherits the interrupt of the thread that starts
// it. Interrupt() may be called from any thread; the object must outlive the
// scopes that install it.
#pragma once

#include <atomic>

namespace veilex {

// How often an interruptible wait looks at its interrupt.
inline constexpr int kInterruptSliceMs = 25;

class TNetInterrupt {
 public:
  TNetInterrupt() = default;
  TNetInterrupt(const TNetInterrupt&) = delete;
  TNetInterrupt& operator=(const TNetInterrupt&) = delete;

  // For good: there is no way back.
  void Interrupt() { interrupted_.store(true); }
  bool Interrupted() const { return interrupted_.load(); }

  // The interrupt installed on the calling thread, or null.
  static TNetInterrupt* Current();

 private:
  std::atomic<bool> interrupted_{false};
};

// Installs an interrupt (null: none) on the calling thread for its lifetime,
// then puts back the one that was there.
class TNetInterruptScope {
 public:
  explicit TNetInterruptScope(TNetInterrupt* interrupt);
  ~TNetInterruptScope();
  TNetInterruptScope(const TNetInterruptScope&) = delete;
  TNetInterruptScope& operator=(const TNetInterruptScope&) = delete;

 private:
  TNetInterrupt* previous_;
};

}  // namespace veilex
