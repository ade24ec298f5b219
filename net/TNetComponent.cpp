#include "net/TNetComponent.h"

#include <algorithm>
#include <thread>

#include "net/TNetStack.h"

namespace veilex {

// ---- TNetBaseComponent -----------------------------------------------------

TNetBaseComponent::~TNetBaseComponent() {
  // Take the list first: each survivor may unlink itself while it is told.
  std::vector<TNetBaseComponent*> survivors;
  survivors.swap(free_notifies_);
  for (TNetBaseComponent* survivor : survivors) {
    auto& theirs = survivor->free_notifies_;
    theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
    survivor->Notification(this, TOperation::opRemove);
  }
}

void TNetBaseComponent::FreeNotification(TNetBaseComponent* component) {
  if (component == nullptr || component == this) return;
  if (std::find(free_notifies_.begin(), free_notifies_.end(), component) == free_notifies_.end()) {
    free_notifies_.push_back(component);
    component->free_notifies_.push_back(this);
  }
}

void TNetBaseComponent::RemoveFreeNotification(TNetBaseComponent* component) {
  if (component == nullptr) return;
  free_notifies_.erase(std::remove(free_notifies_.begin(), free_notifies_.end(), component),
                       free_notifies_.end());
  auto& theirs = component->free_notifies_;
  theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
}

void TNetBaseComponent::Notification(TNetBaseComponent*, TOperation) {}

// ---- status texts ----------------------------------------------------------

const char* NetStatusFormat(TNetStatus status) {
  switch (status) {
    case TNetStatus::hsResolving: return "Résolution du nom d'hôte %s.";
    case TNetStatus::hsConnecting: return "Connexion à %s.";
    case TNetStatus::hsConnected: return "Connecté.";
    case TNetStatus::hsDisconnecting: return "Déconnexion.";
    case TNetStatus::hsDisconnected: return "Déconnecté.";
    case TNetStatus::hsStatusText:
    case TNetStatus::ftpTransfer:
    case TNetStatus::ftpReady:
    case TNetStatus::ftpAborted: return "%s";
  }
  return "%s";
}

// ---- TNetComponent ---------------------------------------------------------

TNetComponent::TNetComponent() { AcquireSharedStack(); }

TNetComponent::~TNetComponent() { ReleaseSharedStack(); }

void TNetComponent::BeginWork(TWorkMode work_mode, int64_t work_count_max) {
  WorkState& state = work_[static_cast<int>(work_mode)];
  if (++state.level == 1) {
    state.maximum = work_count_max;
    state.current = 0;
    if (OnWorkBegin) OnWorkBegin(this, work_mode, work_count_max);
  }
}

void TNetComponent::DoWork(TWorkMode work_mode, int64_t count) {
  WorkState& state = work_[static_cast<int>(work_mode)];
  if (state.level <= 0) return;
  state.current += count;
  if (OnWork) OnWork(this, work_mode, state.current);
}

void TNetComponent::EndWork(TWorkMode work_mode) {
  WorkState& state = work_[static_cast<int>(work_mode)];
  if (state.level == 1 && OnWorkEnd) OnWorkEnd(this, work_mode);
  // An unmatched EndWork must not push the level below zero, or the next
  // phase would never be reported.
  if (state.level > 0) --state.level;
}

void TNetComponent::DoStatus(TNetStatus status, std::initializer_list<FormatArg> args) {
  if (!OnStatus) return;
  const std::string text = args.size() == 0 ? Format(NetStatusFormat(status), {std::string_view()})
                                            : Format(NetStatusFormat(status), args);
  OnStatus(this, status, text);
}

// ---- TNetAntiFreezeBase ----------------------------------------------------

std::atomic<TNetAntiFreezeBase*> CurrentYieldHook{nullptr};

namespace {
// Static initialisation runs on the thread that starts the process.
const std::thread::id main_thread_id = std::this_thread::get_id();
}  // namespace

TNetAntiFreezeBase::TNetAntiFreezeBase() { CurrentYieldHook.store(this); }

TNetAntiFreezeBase::~TNetAntiFreezeBase() { CurrentYieldHook.store(nullptr); }

bool TNetAntiFreezeBase::ShouldUse() {
  TNetAntiFreezeBase* hook = CurrentYieldHook.load();
  return hook != nullptr && std::this_thread::get_id() == main_thread_id && hook->Active;
}

void TNetAntiFreezeBase::DoProcess(bool idle, bool override_idle) {
  if (!ShouldUse()) return;
  TNetAntiFreezeBase* hook = CurrentYieldHook.load();
  if ((!hook->OnlyWhenIdle || idle || override_idle) && hook->Active) hook->Process();
}

}  // namespace veilex
