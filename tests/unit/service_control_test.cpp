// Stopping and starting the spooler in virtual time: poll counts, pauses,
// what is sent in which state, and handles closed on every path.
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "common/run_options.h"
#include "common/service_control.h"
#include "tests/fakes/fake_machine.h"

namespace {

class ServiceControl : public testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(machine.OpenHandleCount(), 0) << "every handle closed"; }

  FakeService& spooler() { return machine.services.Spooler(); }
  int Polls() const { return machine.CallCount(Seam::QueryServiceStatusEx) - 1; }  // the first query is no poll

  FakeMachine machine;
};

TEST_F(ServiceControl, NothingIsSentFromTheWrongState) {
  spooler().state = SERVICE_STOPPED;
  EXPECT_EQ(StopServiceAndWait(L"Spooler", 10000), 0);
  EXPECT_EQ(machine.CallCount(Seam::ControlService), 0);
  spooler().state = SERVICE_RUNNING;
  EXPECT_EQ(StartServiceAndWait(L"Spooler", 10000), 0);
  EXPECT_EQ(machine.CallCount(Seam::StartServiceW), 0);
  // A pending state is neither running nor stopped.
  spooler().state = SERVICE_START_PENDING;
  spooler().never_starts = true;
  EXPECT_EQ(StopServiceAndWait(L"Spooler", 10000), 0);
  EXPECT_EQ(StartServiceAndWait(L"Spooler", 10000), 0);
  EXPECT_EQ(machine.CallCount(Seam::ControlService) + machine.CallCount(Seam::StartServiceW), 0);
  EXPECT_TRUE(machine.sleeps.empty());
}

TEST_F(ServiceControl, AServiceThatStopsAtOnceNeedsNoPause) {
  EXPECT_EQ(StopServiceAndWait(L"Spooler", 10000), 1);
  EXPECT_EQ(spooler().state, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(machine.CallCount(Seam::ControlService, std::to_wstring(SERVICE_CONTROL_STOP)), 1);
  EXPECT_TRUE(machine.sleeps.empty());
  EXPECT_EQ(StartServiceAndWait(L"Spooler", 10000), 1);
  EXPECT_EQ(spooler().state, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_TRUE(machine.sleeps.empty());
}

TEST_F(ServiceControl, PendingStatesArePolledEvery10Ms) {
  spooler().pending_polls = 3;
  EXPECT_EQ(StopServiceAndWait(L"Spooler", 10000), 1);
  EXPECT_EQ(machine.sleeps, (std::vector<DWORD>{10, 10, 10}));
  machine.sleeps.clear();
  EXPECT_EQ(StartServiceAndWait(L"Spooler", 40), 1) << "the fourth poll is the last allowed";
  EXPECT_EQ(machine.sleeps.size(), 3u);
  EXPECT_EQ(StopServiceAndWait(L"Spooler", 30), 0) << "three polls see the pending state only";
  EXPECT_EQ(machine.sleeps.size(), 6u) << "the last unsuccessful poll is followed by a pause too";
}

TEST_F(ServiceControl, TheTimeoutAllowsWholeMultiplesOf10MsOfPolls) {
  spooler().never_stops = true;
  struct {
    DWORD timeout;
    int polls;
  } cases[] = {{0, 0}, {9, 0}, {10, 1}, {19, 1}, {10000, 1000}, {10009, 1000}};
  for (const auto& c : cases) {
    spooler().state = SERVICE_RUNNING;
    machine.calls.clear();
    machine.clock_ms = 0;
    EXPECT_EQ(StopServiceAndWait(L"Spooler", c.timeout), 0) << c.timeout;
    EXPECT_EQ(machine.CallCount(Seam::ControlService), 1) << "the request goes out even without polls";
    EXPECT_EQ(Polls(), c.polls) << c.timeout;
    EXPECT_EQ(machine.clock_ms, 10u * c.polls) << c.timeout;
  }
  // Below 10 ms nothing is seen, even when the service has stopped at once.
  spooler() = FakeService{};
  EXPECT_EQ(StopServiceAndWait(L"Spooler", 9), 0);
  EXPECT_EQ(spooler().state, static_cast<DWORD>(SERVICE_STOP_PENDING)) << "no poll looked at it";
}

TEST_F(ServiceControl, FailuresOfTheManagerCallsGiveZero) {
  EXPECT_EQ(StopServiceAndWait(L"NoSuchService", 10000), 0);
  EXPECT_EQ(machine.CallCount(Seam::CloseServiceHandle), 1) << "the manager handle is closed";

  machine.FailNth(Seam::OpenSCManagerW, ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(StopServiceAndWait(L"Spooler", 10000), 0);
  machine.FailNth(Seam::OpenServiceW, ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(StartServiceAndWait(L"Spooler", 10000), 0);
  machine.FailNth(Seam::QueryServiceStatusEx, ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(StopServiceAndWait(L"Spooler", 10000), 0);
  EXPECT_EQ(machine.CallCount(Seam::ControlService), 0) << "a failed first query sends nothing";
  EXPECT_EQ(spooler().state, static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(ServiceControl, ARefusedRequestRunsThePollsOut) {
  machine.Fail(Seam::ControlService, ERROR_ACCESS_DENIED);
  EXPECT_EQ(StopServiceAndWait(L"Spooler", 10000), 0);
  EXPECT_EQ(Polls(), 1000);
  EXPECT_EQ(machine.clock_ms, 10000u);
  EXPECT_EQ(machine.CallCount(Seam::ControlService), 1) << "no second request";
}

TEST_F(ServiceControl, RestartSpoolerStartsOnlyFromStopped) {
  RestartSpooler();
  EXPECT_EQ(spooler().stop_requests, 1);
  EXPECT_EQ(spooler().start_requests, 1);
  EXPECT_EQ(machine.sleeps, (std::vector<DWORD>{1000}));
  EXPECT_EQ(machine.CallCount(Seam::OpenSCManagerW), 2) << "stop and start connect on their own";

  machine.sleeps.clear();
  spooler().never_stops = true;
  RestartSpooler();
  EXPECT_EQ(machine.CallCount(Seam::StartServiceW), 2) << "a stop of ours is followed by a start, even one still stopping";
  // 1000 polls, 3000 more while it is still stopping, 3000 for the start's
  // bound (its first poll right after the start is sent), the closing pause.
  EXPECT_EQ(machine.sleeps.size(), 7000u);
  EXPECT_EQ(SpoolerLeftStopped, static_cast<DWORD>(ERROR_INSTALL_FAILURE)) << "a failure, never a success";
  EXPECT_EQ(machine.sleeps.back(), 1000u) << "the closing pause comes anyway";
}

std::vector<std::wstring> g_actions;
DWORD g_state_during_action = 0;
uint64_t g_clock_at_action = 0;
void RecordAction(const wchar_t* context) {
  g_actions.push_back(context);
  g_state_during_action = Fake().services.Spooler().state;
  g_clock_at_action = Fake().clock_ms;
}

TEST_F(ServiceControl, RestartWithActionRunsItWhileTheSpoolerIsStopped) {
  g_actions.clear();
  spooler().pending_polls = 2;
  RestartSpoolerWithAction(RecordAction, L"C:\\pkg\\vlm6mon.dll");
  EXPECT_EQ(g_actions, (std::vector<std::wstring>{L"C:\\pkg\\vlm6mon.dll"}));
  EXPECT_EQ(g_state_during_action, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(g_clock_at_action, 20u + 200u) << "two stop polls, then the 200 ms pause";
  EXPECT_EQ(spooler().state, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(machine.CallCount(Seam::OpenSCManagerW), 1) << "one connection";
  EXPECT_EQ(machine.sleeps, (std::vector<DWORD>{10, 10, 200, 10, 10})) << "no closing pause";
}

TEST_F(ServiceControl, RestartWithActionNeedsBothActionAndContext) {
  g_actions.clear();
  RestartSpoolerWithAction(RecordAction, nullptr);
  RestartSpoolerWithAction(nullptr, L"C:\\pkg\\vlm6mon.dll");
  RestartSpoolerWithAction(nullptr, nullptr);
  EXPECT_TRUE(g_actions.empty());
  EXPECT_TRUE(machine.sleeps.empty()) << "no 200 ms pause";
  EXPECT_EQ(spooler().stop_requests, 3);
  EXPECT_EQ(spooler().start_requests, 3);
}

TEST_F(ServiceControl, RestartWithActionLeavesASpoolerThatIsNotRunning) {
  g_actions.clear();
  for (DWORD state : {SERVICE_STOPPED, SERVICE_STOP_PENDING}) {
    spooler().state = state;
    spooler().never_stops = true;
    RestartSpoolerWithAction(RecordAction, L"C:\\pkg\\vlm6mon.dll");
  }
  machine.FailNth(Seam::QueryServiceStatusEx, ERROR_ACCESS_DENIED, 1);
  spooler() = FakeService{};
  RestartSpoolerWithAction(RecordAction, L"C:\\pkg\\vlm6mon.dll");
  EXPECT_TRUE(g_actions.empty());
  EXPECT_EQ(machine.CallCount(Seam::ControlService) + machine.CallCount(Seam::StartServiceW), 0);
  EXPECT_TRUE(machine.sleeps.empty());
}

TEST_F(ServiceControl, RestartWithActionStartsEvenWhenTheStopWaitRanOut) {
  spooler().never_stops = true;
  g_actions.clear();
  RestartSpoolerWithAction(RecordAction, L"ctx");
  EXPECT_TRUE(g_actions.empty()) << "nothing of the spooler's is touched while it runs";
  EXPECT_EQ(machine.CallCount(Seam::StartServiceW), 1) << "issued, refused by the still stopping service";
  const uint64_t waited = std::accumulate(machine.sleeps.begin(), machine.sleeps.end(), uint64_t{0});
  EXPECT_EQ(waited, 10000u + kStopGraceMs + kStartBoundMs - 10u) << "the stop waited out, the start's bound";

  spooler() = FakeService{};
  machine.FailNth(Seam::OpenServiceW, ERROR_ACCESS_DENIED, 1);
  RestartSpoolerWithAction(RecordAction, L"ctx");
  machine.FailNth(Seam::OpenSCManagerW, ERROR_ACCESS_DENIED, 1);
  RestartSpoolerWithAction(RecordAction, L"ctx");
  EXPECT_TRUE(g_actions.empty());
  EXPECT_EQ(machine.CallCount(Seam::ControlService), 1) << "no connection, nothing sent";
}

}  // namespace

namespace {

// A stop that outlasts its wait is waited out, then the spooler is started.
TEST_F(ServiceControl, ASpoolerThatTakes25SecondsToStopIsStartedAgain) {
  spooler().stop_pending_polls = 2500;
  RestartSpooler();
  EXPECT_EQ(spooler().state, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(spooler().start_requests, 1);
  EXPECT_EQ(machine.clock_ms, 25000u + 1000u) << "the stop waited out in 10 ms polls, then the closing pause";
  EXPECT_FALSE(SpoolerHeldStopped());
}

}  // namespace

namespace {

// ControlService refuses to stop a service whose dependents run
// (ERROR_DEPENDENT_SERVICES_RUNNING): they are stopped first and started again after.
TEST_F(ServiceControl, ARunningDependentIsStoppedFirstAndStartedAgainAfter) {
  machine.services.services[L"Fax"] = FakeService{};
  machine.services.services[L"Fax"].depends_on = L"Spooler";
  g_actions.clear();
  EXPECT_EQ(RestartSpoolerWithAction(RecordAction, L"ctx"), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(g_actions.size(), 1u);
  EXPECT_EQ(spooler().state, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(machine.services.services[L"Fax"].stop_requests, 1);
  EXPECT_EQ(machine.services.services[L"Fax"].start_requests, 1);
  EXPECT_EQ(machine.OpenHandleCount(), 0);
}

// Any other refusal of the stop - ERROR_SERVICE_REQUEST_TIMEOUT, the answer of
// a service too busy to take the control within 30 s, too - ends the step at
// once: nothing waited for, no action, the refusal returned.
TEST_F(ServiceControl, ARefusedOrTimedOutStopEndsTheStepAtOnce) {
  for (DWORD refusal : {static_cast<DWORD>(ERROR_ACCESS_DENIED), static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT)}) {
    machine.FailTimes(Seam::ControlService, refusal, 1);
    g_actions.clear();
    machine.sleeps.clear();
    EXPECT_EQ(RestartSpoolerWithAction(RecordAction, L"ctx"), refusal);
    EXPECT_TRUE(g_actions.empty());
    EXPECT_TRUE(machine.sleeps.empty()) << "no 40 s wait for a stop that was refused";
    EXPECT_EQ(machine.CallCount(Seam::StartServiceW), 0) << "still running: nothing to start";
  }
}

}  // namespace
