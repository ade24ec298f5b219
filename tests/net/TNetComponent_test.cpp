#include "net/TNetComponent.h"

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace veilex {
namespace {

// Records every work event as a line of text.
struct WorkLog {
  std::vector<std::string> lines;
  void Attach(TNetComponent& component) {
    component.OnWorkBegin = [this](TNetBaseComponent*, TWorkMode mode, int64_t max) {
      lines.push_back(Name(mode) + " begin " + std::to_string(max));
    };
    component.OnWork = [this](TNetBaseComponent*, TWorkMode mode, int64_t count) {
      lines.push_back(Name(mode) + " " + std::to_string(count));
    };
    component.OnWorkEnd = [this](TNetBaseComponent*, TWorkMode mode) { lines.push_back(Name(mode) + " end"); };
  }
  static std::string Name(TWorkMode mode) { return mode == TWorkMode::wmRead ? "read" : "write"; }
};

TEST(TNetComponentWork, OnlyTheOutermostPhaseIsReportedWithRunningTotals) {
  TNetComponent component;
  WorkLog log;
  log.Attach(component);
  component.DoWork(TWorkMode::wmRead, 5);  // outside a phase: nothing
  component.BeginWork(TWorkMode::wmWrite, 5000);
  component.DoWork(TWorkMode::wmWrite, 100);
  component.BeginWork(TWorkMode::wmWrite, 300);  // inner: no second begin
  component.DoWork(TWorkMode::wmWrite, 300);
  component.EndWork(TWorkMode::wmWrite);
  component.DoWork(TWorkMode::wmRead, 7);  // other mode has no phase
  component.DoWork(TWorkMode::wmWrite, 1);
  component.EndWork(TWorkMode::wmWrite);
  component.DoWork(TWorkMode::wmWrite, 1);  // closed again
  EXPECT_EQ(log.lines, (std::vector<std::string>{"write begin 5000", "write 100", "write 400", "write 401",
                                                 "write end"}));
}

TEST(TNetComponentWork, ModesAreIndependentAndAStrayEndIsHarmless) {
  TNetComponent component;
  WorkLog log;
  log.Attach(component);
  component.EndWork(TWorkMode::wmRead);  // no phase open
  component.BeginWork(TWorkMode::wmRead);
  component.BeginWork(TWorkMode::wmWrite, 2);
  component.DoWork(TWorkMode::wmRead, 3);
  component.DoWork(TWorkMode::wmWrite, 2);
  component.EndWork(TWorkMode::wmRead);
  component.EndWork(TWorkMode::wmWrite);
  component.BeginWork(TWorkMode::wmRead, 9);  // a new phase starts from 0
  component.DoWork(TWorkMode::wmRead, 1);
  component.EndWork(TWorkMode::wmRead);
  EXPECT_EQ(log.lines, (std::vector<std::string>{"read begin 0", "write begin 2", "read 3", "write 2", "read end",
                                                 "write end", "read begin 9", "read 1", "read end"}));
}

TEST(TNetComponentStatus, FormatsTheTextOfEachStatus) {
  TNetComponent component;
  std::vector<std::pair<TNetStatus, std::string>> seen;
  component.OnStatus = [&](TNetBaseComponent* sender, TNetStatus status, const std::string& text) {
    EXPECT_EQ(sender, &component);
    seen.emplace_back(status, text);
  };
  component.DoStatus(TNetStatus::hsResolving, {"example.org"});
  component.DoStatus(TNetStatus::hsConnecting, {"10.0.0.1"});
  component.DoStatus(TNetStatus::hsConnected, {"example.org"});
  component.DoStatus(TNetStatus::hsDisconnecting);
  component.DoStatus(TNetStatus::hsDisconnected);
  component.DoStatus(TNetStatus::hsStatusText, {"Opération Chunk démarrée"});
  component.DoStatus(TNetStatus::hsStatusText);
  const std::vector<std::pair<TNetStatus, std::string>> expected = {
      {TNetStatus::hsResolving, "Résolution du nom d'hôte example.org."},
      {TNetStatus::hsConnecting, "Connexion à 10.0.0.1."},
      {TNetStatus::hsConnected, "Connecté."},
      {TNetStatus::hsDisconnecting, "Déconnexion."},
      {TNetStatus::hsDisconnected, "Déconnecté."},
      {TNetStatus::hsStatusText, "Opération Chunk démarrée"},
      {TNetStatus::hsStatusText, ""},
  };
  EXPECT_EQ(seen, expected);
  EXPECT_STREQ(NetStatusFormat(TNetStatus::ftpAborted), "%s");
}

// Records removal notices.
class Watcher : public TNetBaseComponent {
 public:
  std::vector<TNetBaseComponent*> removed;

 protected:
  void Notification(TNetBaseComponent* component, TOperation operation) override {
    if (operation == TOperation::opRemove) removed.push_back(component);
  }
};

TEST(TNetBaseComponent, TellsLinkedComponentsWhenItGoesInEitherOrder) {
  Watcher watcher;
  auto first = std::make_unique<Watcher>();
  TNetBaseComponent* first_address = first.get();
  watcher.FreeNotification(first.get());
  first.reset();
  EXPECT_EQ(watcher.removed, std::vector<TNetBaseComponent*>{first_address});

  auto survivor = std::make_unique<Watcher>();
  {
    Watcher gone_first;
    gone_first.FreeNotification(survivor.get());
  }
  EXPECT_EQ(survivor->removed.size(), 1u);
  survivor.reset();  // must not reach the component already gone
  EXPECT_EQ(watcher.removed.size(), 1u);

  auto unlinked = std::make_unique<Watcher>();
  watcher.FreeNotification(unlinked.get());
  watcher.RemoveFreeNotification(unlinked.get());
  unlinked.reset();
  EXPECT_EQ(watcher.removed.size(), 1u);
}

class CountingHook : public TNetAntiFreezeBase {
 public:
  int calls = 0;
  void Process() override { ++calls; }
};

TEST(TNetAntiFreezeBase, YieldsOnlyOnTheMainThreadWhileActive) {
  EXPECT_FALSE(TNetAntiFreezeBase::ShouldUse());
  TNetAntiFreezeBase::DoProcess();  // no hook: nothing to call
  {
    CountingHook hook;
    EXPECT_EQ(CurrentYieldHook.load(), &hook);
    EXPECT_EQ(hook.IdleTimeOut, 250);
    EXPECT_TRUE(hook.OnlyWhenIdle);
    EXPECT_TRUE(TNetAntiFreezeBase::ShouldUse());

    TNetAntiFreezeBase::DoProcess(true);
    TNetAntiFreezeBase::DoProcess(false);        // busy, and only-when-idle
    TNetAntiFreezeBase::DoProcess(false, true);  // forced
    EXPECT_EQ(hook.calls, 2);
    hook.OnlyWhenIdle = false;
    TNetAntiFreezeBase::DoProcess(false);
    EXPECT_EQ(hook.calls, 3);

    std::thread([] {
      EXPECT_FALSE(TNetAntiFreezeBase::ShouldUse());
      TNetAntiFreezeBase::DoProcess(true, true);
    }).join();
    EXPECT_EQ(hook.calls, 3);

    hook.Active = false;
    TNetAntiFreezeBase::DoProcess(true);
    EXPECT_EQ(hook.calls, 3);
  }
  EXPECT_EQ(CurrentYieldHook.load(), nullptr);
}

}  // namespace
}  // namespace veilex
