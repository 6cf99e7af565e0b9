// Every export in every state of the interface, from every thread a host
// may call it on, with handlers set and with empty slots, against a
// simulated device: nothing crashes, every cell ends within a deadline, and
// where the interface has a report for the misuse it makes exactly that one.
#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

#include "host.h"
#include "signals/signals_x.h"
#include "support/deadline.h"
#include "vexa_sim/current_device_model.h"
#include "vexa_sim/pty_simulator.h"
#include "vexa_sim/quillbox_model.h"

namespace vexa_unity_test {
namespace {

using vexa_sim::CurrentDeviceModel;
using vexa_test::awaitWithin;

// Idle: connected, not acquiring; Acquiring: no loop runs; LoopElsewhere:
// the loop runs on another host thread; InRawData, InDigIn, InDisconnect:
// from inside each handler, on the loop's thread; InException: StartLoop's
// report of a failed loop; LinkLost: while acquiring.
enum class State { kNoDevice, kIdle, kAcquiring, kLoopElsewhere, kInRawData, kInDigIn, kInDisconnect, kInException,
                   kLinkLost, kDisconnected };
const char* const kStateNames[] = {"NoDevice",  "Idle",         "Acquiring",   "LoopElsewhere", "InRawData",
                                   "InDigIn",   "InDisconnect", "InException", "LinkLost",      "Disconnected"};
void PrintTo(State s, std::ostream* os) { *os << kStateNames[static_cast<int>(s)]; }

// What an export does with the device, which decides how misuse can fail.
// kNone: slots, forwarders, scans; kForwards: hands its code to the
// exception handler itself; kReads: reads what the device reported; kTalks:
// exchanges commands with the device; kLoops: StartLoop; kEndsLoop: from
// another host thread, ends a running loop first.
enum Use { kNone, kForwards, kReads, kTalks, kLoops, kEndsLoop };

// The cell in progress: its call, run once by whichever thread or handler
// the state names, and what it left behind.
struct Cell {
  std::function<void()> call;
  bool probe = false;  // then a release of the device from the same handler must be refused
  std::vector<int> codes;
  bool kept = true;
  std::atomic<bool> started{false}, done{false};
};
std::atomic<Cell*> armed{nullptr};

void runArmed() {
  Cell* cell = armed.exchange(nullptr);
  if (cell == nullptr) return;
  cell->started = true;
  const size_t before = [] {
    std::lock_guard<std::mutex> l(seen().lock);
    return seen().reports.size();
  }();
  if (cell->call) cell->call();
  {
    std::lock_guard<std::mutex> l(seen().lock);
    for (size_t i = before; i < seen().reports.size(); ++i) cell->codes.push_back(seen().reports[i].code);
  }
  if (cell->probe) {
    Vexa::BaseDevUnity* dev = vexaDev;
    DisconnectVexaDevUnity();  // the loop still uses the device
    cell->kept = vexaDev == dev;
  }
  cell->done = true;
}

class Misuse : public HostTest, public ::testing::WithParamInterface<std::tuple<State, bool>> {
 protected:
  struct Export {
    const char* name;
    std::function<void()> call;
    Use use;
    std::vector<int> codes;  // notification, error, standard, other; empty: unwrapped
  };

  void SetUp() override {
    HostTest::SetUp();
    std::tie(state, handlersSet) = GetParam();
    setHandlers(handlersSet);
  }

  std::vector<Export> exports() {
    static const int data[] = {7, 9};
    static const VexaSource source = {1, 1, 16, 1};
    static const std::vector<int> noCodes;
    const auto codes = [](int notification) {
      return std::vector<int>{notification, notification + 1, notification + 2, -1};
    };
    return {
        {"the four Set exports", [this] { setHandlers(handlersSet); }, kNone, noCodes},
        {"OnExceptionRaised", [] { OnExceptionRaised(99, "from the host"); }, kForwards, {99}},
        {"the other On exports",
         [] {
           OnNewDeviceFound("COM/dev/elsewhere");
           OnDisconnectEventDetected(7);
           OnDigInEventDetected(1, 2, 3, true);
           OnDataReceived(5, data, {1, 1});
         },
         kNone, noCodes},
        {"StartAcquisition", [] { StartAcquisition(1000, "11", 16); }, kTalks, codes(13)},
        {"StartAcquisitionByNbr", [] { StartAcquisitionByNbr(1000, 3, 16); }, kTalks, codes(5)},
        {"StartAcquisitionBySources", [] { StartAcquisitionBySources(1000, &source, 1); }, kTalks, codes(9)},
        {"StartAcquisitionStrandelo", [] { StartAcquisitionStrandelo(1000, 0, 16, 100); }, kTalks, codes(17)},
        {"StartLoop", [] { StartLoop(); }, kLoops, {21, 21, 24, -1}},
        {"InterruptAcquisition", [] { InterruptAcquisition(); }, kEndsLoop, noCodes},
        {"StopAcquisition", [] { StopAcquisition(); }, kEndsLoop, noCodes},
        {"GetDetectableDevices", [] { GetDetectableDevices("BLE"); }, kNone, codes(26)},
        {"GetAllDetectableDevices", [] { GetAllDetectableDevices(); }, kNone, noCodes},
        {"VexaExtCancel", [] { VexaExtCancel(); }, kNone, noCodes},
        {"GetProductId", [] { GetProductId(); }, kReads, codes(30)},
        {"GetDeviceType", [] { EXPECT_NE(GetDeviceType(), nullptr); }, kReads, codes(34)},
        {"GetBattery", [] { EXPECT_GE(GetBattery(), -1); }, kTalks, noCodes},
        {"GetNbrChannels", [] { EXPECT_GE(GetNbrChannels(), 0); }, kReads, noCodes},
        {"GetCommunicationFlag", [] { GetCommunicationFlag(); }, kReads, noCodes},
        {"SetParameter", [] { SetParameter(1, 1, data, 1); }, kTalks, codes(38)},
        {"vexaDev", [] { (void)*static_cast<Vexa::BaseDevUnity* const volatile*>(&vexaDev); }, kReads, noCodes},
        // Last: they release the device, which then costs a new connection.
        {"DisconnectVexaDevUnity", [] { DisconnectVexaDevUnity(); }, kEndsLoop, noCodes},
        {"VexaDevUnity", [this] { VexaDevUnity(other->comPath().c_str()); }, kEndsLoop, codes(1)},
    };
  }

  bool inLoopHandler() const {
    return state == State::kInRawData || state == State::kInDigIn || state == State::kInDisconnect;
  }
  // The code the misuse must be reported with, when there is exactly one.
  int required(const Export& e) const {
    if (e.use == kForwards) return e.codes[0];
    if (e.codes.empty()) return 0;
    const bool noDevice = state == State::kNoDevice || state == State::kDisconnected;
    if (noDevice && (e.use == kReads || e.use == kTalks || e.use == kLoops)) return e.codes[1];
    if (state == State::kLoopElsewhere && (e.use == kTalks || e.use == kLoops)) return e.codes[1];
    // A loop's handler can neither start another loop nor wait for its own
    // to end for a new connection.
    if (inLoopHandler() && (e.use == kLoops || e.use == kEndsLoop)) return e.codes[1];
    if (state == State::kLinkLost && e.use == kLoops) return e.codes[0];
    return 0;
  }

  // --- bringing the interface into the cell's state ----------------------

  bool mainIsCurrent() {
    return vexaDev != nullptr && sim && vexaDev->getProperties()["path"].asString() == sim->comPath();
  }
  void connectMain() {
    if (mainIsCurrent() && !linkLost) return;
    DisconnectVexaDevUnity();
    sim = std::make_unique<vexa_sim::PtySimulator>(std::make_unique<CurrentDeviceModel>());
    linkLost = false;
    VexaDevUnity(sim->comPath().c_str());
    ASSERT_TRUE(mainIsCurrent());
  }
  void reach() {
    // A fresh device to connect to for VexaDevUnity, its handshake quick.
    other = std::make_unique<vexa_sim::PtySimulator>(std::make_unique<vexa_sim::QuillboxModel>());
    if (state == State::kNoDevice || state == State::kDisconnected) {
      if (state == State::kDisconnected && !sim) connectMain();
      DisconnectVexaDevUnity();
      return;
    }
    if (state == State::kLinkLost && mainIsCurrent() && linkLost) return;
    connectMain();
    const bool acquire = state != State::kIdle && state != State::kInDisconnect && state != State::kInException;
    if (acquire != (GetNbrChannels() != 0)) {
      if (acquire) {
        StartAcquisition(1000, "11", 16);
      } else {
        StopAcquisition();
      }
    }
    ASSERT_EQ(GetNbrChannels() != 0, acquire);
    if (state == State::kLinkLost) {
      sim->hangUp();
      linkLost = true;
    }
  }

  // --- one cell ------------------------------------------------------------

  void spawn(std::function<void()> body) {
    ++running;
    threads.emplace_back([this, body] {
      body();
      --running;
    });
  }

  void run(const Export& e) {
    const std::string what = e.name;
    Cell cell;
    cell.call = e.call;
    cell.probe = handlersSet && inLoopHandler();
    // The handler the state names runs the cell; the others keep recording.
    if (state == State::kInRawData) SetOnRawDataHandler([](int, const int*, int) { runArmed(); });
    if (state == State::kInDigIn) SetOnEventDetectedHandlers(onDisconnect, [](int, int, int, bool) { runArmed(); });
    if (state == State::kInDisconnect) SetOnEventDetectedHandlers([](int) { runArmed(); }, onDigIn);
    if (state == State::kInException) {
      SetOnExceptionRaisedHandler([](int code, const char* message) {
        onException(code, message);
        runArmed();
      });
    }
    const bool loopRuns = inLoopHandler() || state == State::kInException || state == State::kLoopElsewhere;
    if (loopRuns) {
      spawn([] { StartLoop(); });
      awaitWithin(
          what + ": loop waits", [] { return vexaDev->impl()->state == Vexa::kReceiving; }, [] {});
    }
    // Armed only now: taking the cell orders this thread's look at the
    // device before whatever the call does to it.
    armed = &cell;
    if (state == State::kInDigIn || state == State::kInDisconnect || state == State::kInException) {
      sim->engine().with<CurrentDeviceModel>([this](CurrentDeviceModel& m) {
        if (state == State::kInDigIn) m.sendEvent(3, {2, 0x10, 0, 0, 0, 1});
        if (state == State::kInDisconnect) m.sendEvent(8, {5});
        if (state == State::kInException) m.sendMessage(2, {});  // not an event: the loop fails
      });
    } else if (state != State::kInRawData) {  // there the frames come
      spawn(runArmed);
    }
    // Outside a running loop's handler the call may start a loop of its own
    // (StartLoop): it is interrupted as a host would.
    const bool mayInterrupt = !inLoopHandler() && state != State::kLoopElsewhere;
    awaitWithin(
        what, [&cell] { return cell.done.load(); },
        [&cell, mayInterrupt] {
          if (mayInterrupt && cell.started) InterruptAcquisition();
        });
    if (state == State::kLoopElsewhere) checkLoopAfter(e, what);
    awaitWithin(
        what, [this] { return running == 0; }, [] { InterruptAcquisition(); });
    for (std::thread& t : threads) t.join();
    threads.clear();
    setHandlers(handlersSet);

    EXPECT_TRUE(cell.kept) << "a handler released the device its loop uses";
    if (!handlersSet) return;
    const int code = required(e);
    if (code != 0) {
      EXPECT_EQ(cell.codes, std::vector<int>{code});
    } else if (state == State::kLinkLost && e.use == kTalks && !e.codes.empty()) {
      ASSERT_EQ(cell.codes.size(), 1u);
      EXPECT_TRUE(cell.codes[0] == e.codes[0] || cell.codes[0] == e.codes[1]) << cell.codes[0];
    } else {
      EXPECT_LE(cell.codes.size(), 1u);
      for (int c : cell.codes) EXPECT_NE(std::find(e.codes.begin(), e.codes.end(), c), e.codes.end()) << c;
    }
  }

  // A call from another host thread either ends the loop (those that must)
  // or leaves it running, still owned by its thread: a release of the device
  // from its next handler is refused.
  void checkLoopAfter(const Export& e, const std::string& what) {
    if (e.use == kEndsLoop) {
      awaitWithin(
          what + " ends the loop", [this] { return running == 0; }, [] {});
      return;
    }
    if (!handlersSet) return;
    Cell probe;
    probe.probe = true;
    armed = &probe;
    SetOnRawDataHandler([](int, const int*, int) { runArmed(); });
    awaitWithin(
        what + ": next frame", [&probe] { return probe.done.load(); }, [] {});
    EXPECT_TRUE(probe.kept) << "the loop's thread lost its claim";
  }

  State state;
  bool handlersSet;
  std::unique_ptr<vexa_sim::PtySimulator> sim, other;
  bool linkLost = false;
  std::vector<std::thread> threads;
  std::atomic<int> running{0};
};

TEST_P(Misuse, EveryExport) {
  for (const Export& e : exports()) {
    SCOPED_TRACE(e.name);
    reach();
    if (HasFatalFailure()) return;
    run(e);
  }
}

const State kEveryState[] = {State::kNoDevice,     State::kIdle,        State::kAcquiring, State::kLoopElsewhere,
                             State::kInRawData,    State::kInDigIn,     State::kInDisconnect,
                             State::kInException, State::kLinkLost,    State::kDisconnected};
// Only the states that need no handler run with empty slots.
const State kWithoutHandlers[] = {State::kNoDevice,      State::kIdle,     State::kAcquiring,
                                  State::kLoopElsewhere, State::kLinkLost, State::kDisconnected};

std::string cellName(const ::testing::TestParamInfo<std::tuple<State, bool>>& info) {
  return std::string(kStateNames[static_cast<int>(std::get<0>(info.param))]) +
         (std::get<1>(info.param) ? "" : "_EmptySlots");
}

INSTANTIATE_TEST_SUITE_P(Handlers, Misuse,
                         ::testing::Combine(::testing::ValuesIn(kEveryState), ::testing::Values(true)), cellName);
INSTANTIATE_TEST_SUITE_P(EmptySlots, Misuse,
                         ::testing::Combine(::testing::ValuesIn(kWithoutHandlers), ::testing::Values(false)), cellName);

}  // namespace
}  // namespace vexa_unity_test
