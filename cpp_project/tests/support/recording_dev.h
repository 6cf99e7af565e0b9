// A device object that records every callback, for tests. Each callback's
// answer (end the loop or not) can be chosen per test.
#ifndef VEXA_TESTS_SUPPORT_RECORDING_DEV_H_
#define VEXA_TESTS_SUPPORT_RECORDING_DEV_H_

#include <atomic>
#include <functional>
#include <string>
#include <typeinfo>
#include <vector>

#include "signals/signals_x.h"
#include "support/deadline.h"
#include "support/pattern_check.h"
#include "vexa/cancel.h"
#include "vexa/dev_info.h"
#include "vexa/exceptions.h"
#include "vexa/event.h"
#include "vexa/signals_dev.h"

namespace vexa_test {

struct Tick {
  int nSeq;
  std::vector<int> samples;
  bool operator==(const Tick& o) const { return nSeq == o.nSeq && samples == o.samples; }
};

class RecordingDev : public Vexa::SignalsDev {
 public:
  using SignalsDev::SignalsDev;
  using BaseDev::impl;

  bool onEvent(const Vexa::Event& ev) override {
    eventTypes.push_back(ev.type);
    order.push_back("e" + std::to_string(ev.type));
    if (ev.type == Vexa::Event::kDigitalInput) {
      const auto& in = static_cast<const Vexa::Events::DigitalInput&>(ev);
      inputs.push_back(std::to_string(in.input) + "=" + std::to_string(in.state) + "@" +
                       std::to_string(in.clockSource) + ":" + std::to_string(in.clockValue));
    }
    return stopOnEvent && stopOnEvent(ev);
  }
  bool onTimeout() override {
    ++timeouts;
    return stopOnTimeout;
  }
  bool onInterrupt(void* param) override {
    interrupts.push_back(param);
    order.push_back("i");
    return stopOnInterrupt;
  }
  bool onRawFrame(int nSeq, const int data[]) override {
    ticks.push_back(Tick{nSeq, std::vector<int>(data, data + impl()->sigX->totalChannels)});
    order.push_back("t" + std::to_string(nSeq));
    ++tickCount;
    return stopOnFrame && stopOnFrame(nSeq);
  }

  // The tick numbers delivered so far.
  std::vector<int> tickNumbers() const {
    std::vector<int> out;
    for (const Tick& t : ticks) out.push_back(t.nSeq);
    return out;
  }

  std::vector<int> eventTypes;
  // Each digital-input event as "input=state@clockSource:clockValue".
  std::vector<std::string> inputs;
  int timeouts = 0;
  std::vector<void*> interrupts;
  std::vector<Tick> ticks;
  std::atomic<int> tickCount{0};  // what another thread may watch while the loop runs
  // Every event ("e" and its type), interrupt ("i") and tick ("t" and its
  // number), in the order the loop delivered them.
  std::vector<std::string> order;

  std::function<bool(const Vexa::Event&)> stopOnEvent;
  std::function<bool(int)> stopOnFrame;
  bool stopOnTimeout = true;
  bool stopOnInterrupt = true;
};

// Each device found as "path=description", in the order given.
inline std::vector<std::string> listing(const std::vector<Vexa::DevInfo>& found) {
  std::vector<std::string> out;
  for (const Vexa::DevInfo& info : found) out.push_back(info.path + "=" + info.description);
  return out;
}

// The type of the library's exception a call throws, or "nothing".
template <class F>
std::string thrownType(F&& call) {
  try {
    call();
  } catch (const Vexa::Exception& e) {
    return typeid(e).name();
  }
  return "nothing";
}
// What call throws as E, as what(e) describes it; "nothing" when it throws
// nothing. Another exception escapes and fails the test.
template <class E, class F, class What>
std::string thrownAs(F&& call, What what) {
  try {
    call();
  } catch (const E& e) {
    return what(e);
  }
  return "nothing";
}
// The type of what call throws when its cancel flag was raised before it
// began; on a thread of its own, so that a cancel nobody heeds fails at the
// deadline instead of hanging the run.
template <class F>
std::string thrownWhenCancelled(const std::string& what, F&& call) {
  return withinDeadline(what, [&call] {
    Vexa::CancelFlag flag;
    flag.raise();
    const Vexa::CancelScope scope(flag);
    return thrownType(call);
  });
}

// The function a location names, as "(name)".
inline std::string locationFunction(const Vexa::Exception& e) {
  const std::string& at = e.location();
  const size_t open = at.rfind(" (");
  return open == std::string::npos ? at : at.substr(open + 1, at.find_last_not_of('\n') - open);
}
template <class E>
std::string typeName() {
  return typeid(E).name();
}

// The first fault in ticks (a gap, a repeat, a wrong sample), or "".
inline std::string tickFault(const std::vector<Tick>& ticks, const std::vector<Vexa::Source>& sources) {
  PatternChecker checker(sources);
  for (const Tick& t : ticks) checker.check(t.nSeq, t.samples.data(), static_cast<int>(t.samples.size()));
  return checker.firstError();
}

// Acquires `sources` from tick 0 up to at least lastTick, then stops; returns
// the first fault in the ticks delivered, or "" when there is none.
inline std::string streamChecked(RecordingDev& dev, float rate, const std::vector<Vexa::Source>& sources,
                                 int lastTick) {
  dev.ticks.clear();
  dev.stopOnFrame = [lastTick](int nSeq) { return nSeq >= lastTick; };
  dev.setTimeout(2000);
  dev.start(rate, sources);
  dev.loop();
  dev.stop();
  if (dev.ticks.empty() || dev.ticks.front().nSeq != 0 || dev.ticks.back().nSeq < lastTick) return "too few ticks";
  return tickFault(dev.ticks, sources);
}

}  // namespace vexa_test

#endif  // VEXA_TESTS_SUPPORT_RECORDING_DEV_H_
