// A device object that records every callback, for tests. Each callback's
// answer (end the loop or not) can be chosen per test.
#ifndef VEXA_TESTS_SUPPORT_RECORDING_DEV_H_
#define VEXA_TESTS_SUPPORT_RECORDING_DEV_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "signals/signals_x.h"
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
      digitalInputs.push_back(static_cast<const Vexa::Events::DigitalInput&>(ev));
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
    return stopOnFrame && stopOnFrame(nSeq);
  }

  // The tick numbers delivered so far.
  std::vector<int> tickNumbers() const {
    std::vector<int> out;
    for (const Tick& t : ticks) out.push_back(t.nSeq);
    return out;
  }

  std::vector<int> eventTypes;
  std::vector<Vexa::Events::DigitalInput> digitalInputs;
  int timeouts = 0;
  std::vector<void*> interrupts;
  std::vector<Tick> ticks;
  // Every event ("e" and its type), interrupt ("i") and tick ("t" and its
  // number), in the order the loop delivered them.
  std::vector<std::string> order;

  std::function<bool(const Vexa::Event&)> stopOnEvent;
  std::function<bool(int)> stopOnFrame;
  bool stopOnTimeout = true;
  bool stopOnInterrupt = true;
};

}  // namespace vexa_test

#endif  // VEXA_TESTS_SUPPORT_RECORDING_DEV_H_
