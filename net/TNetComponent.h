// The root of the layer's components: removal notices between components
// (TNetBaseComponent), status and nested work events and the shared stack's
// lifetime (TNetComponent), and the application-yield hook (TNetAntiFreezeBase).
// A component and its events belong to the thread that performs its I/O.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "rtl/StrUtils.h"

namespace veilex {

enum class TOperation { opInsert, opRemove };

// Holds the removal-notice links: when a component is destroyed, every
// component linked to it through FreeNotification hears Notification(it,
// opRemove) and can forget its pointer. Not copyable.
class TNetBaseComponent {
 public:
  TNetBaseComponent() = default;
  virtual ~TNetBaseComponent();
  TNetBaseComponent(const TNetBaseComponent&) = delete;
  TNetBaseComponent& operator=(const TNetBaseComponent&) = delete;

  // Links the two components both ways: whichever goes first notifies the other.
  void FreeNotification(TNetBaseComponent* component);
  void RemoveFreeNotification(TNetBaseComponent* component);

 protected:
  // Called on the survivor when a linked component is destroyed (opRemove);
  // the component is then in its base destructor: compare the pointer, do not
  // call into it.
  virtual void Notification(TNetBaseComponent* component, TOperation operation);

 private:
  std::vector<TNetBaseComponent*> free_notifies_;
};

enum class TNetStatus {
  hsResolving,
  hsConnecting,
  hsConnected,
  hsDisconnecting,
  hsDisconnected,
  hsStatusText,
  ftpTransfer,
  ftpReady,
  ftpAborted
};

enum class TWorkMode { wmRead, wmWrite };

// The format of a status's text ("Connexion à %s.").
const char* NetStatusFormat(TNetStatus status);

// Work counts are 64-bit so that a transfer beyond 2 GB keeps counting.
using TNetStatusEvent =
    std::function<void(TNetBaseComponent* sender, TNetStatus status, const std::string& status_text)>;
using TWorkEvent = std::function<void(TNetBaseComponent* sender, TWorkMode work_mode, int64_t work_count)>;
using TWorkBeginEvent =
    std::function<void(TNetBaseComponent* sender, TWorkMode work_mode, int64_t work_count_max)>;
using TWorkEndEvent = std::function<void(TNetBaseComponent* sender, TWorkMode work_mode)>;

// A network component: status texts, work progress nested per mode (only the
// outermost phase is reported), and one counted user of SharedStack.
class TNetComponent : public TNetBaseComponent {
 public:
  TNetComponent();
  ~TNetComponent() override;

  TNetStatusEvent OnStatus;
  TWorkEvent OnWork;
  TWorkBeginEvent OnWorkBegin;
  TWorkEndEvent OnWorkEnd;

  // Opens a work phase; only the outermost fires OnWorkBegin.
  virtual void BeginWork(TWorkMode work_mode, int64_t work_count_max = 0);
  // Adds to the outermost phase's total and reports the total; nothing
  // outside a phase.
  virtual void DoWork(TWorkMode work_mode, int64_t count);
  // Closes a phase; only the outermost fires OnWorkEnd.
  virtual void EndWork(TWorkMode work_mode);

  // Formats the status's text with `args` and reports it; nothing is
  // formatted when no OnStatus handler is set.
  void DoStatus(TNetStatus status, std::initializer_list<FormatArg> args = {});

 private:
  struct WorkState {
    int64_t current = 0;
    int64_t maximum = 0;
    int level = 0;
  };
  WorkState work_[2];
};

// The hook through which blocking waits hand control back to a graphical
// event loop. Creating one makes it CurrentYieldHook; destroying any clears it.
// It acts only on the thread that started the process.
class TNetAntiFreezeBase : public TNetBaseComponent {
 public:
  TNetAntiFreezeBase();
  ~TNetAntiFreezeBase() override;

  bool Active = true;
  bool ApplicationHasPriority = true;
  int IdleTimeOut = 250;  // ms
  bool OnlyWhenIdle = true;

  // Runs the application's pending events.
  virtual void Process() = 0;

  // A hook exists, is active, and the caller is the main thread.
  static bool ShouldUse();
  // Yields when ShouldUse and (idle, or forced, or not OnlyWhenIdle).
  static void DoProcess(bool idle = true, bool override_idle = false);
};

// The active hook, or null (the case throughout this system).
extern std::atomic<TNetAntiFreezeBase*> CurrentYieldHook;

}  // namespace veilex
