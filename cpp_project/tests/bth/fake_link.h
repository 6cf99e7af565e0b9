// A scripted RFCOMM link for the Bluetooth classic transport's tests. What
// the transport did is kept in a record that outlives the link; a device
// model, when given, answers what is sent.
#ifndef VEXA_TESTS_BTH_FAKE_LINK_H_
#define VEXA_TESTS_BTH_FAKE_LINK_H_

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "io/bth/bth.h"
#include "io/bth/bth_platform.h"
#include "vexa_sim/device_model.h"

namespace vexa_test {

using Vexa::bth::ConnectResult;
using Vexa::bth::WaitResult;

struct LinkRecord {
  // Scripts: one entry per call; when they run out, the defaults apply
  // (connected; readable when the device has bytes, else timed out; all
  // bytes taken).
  std::deque<ConnectResult> connects;
  std::deque<WaitResult> waits;
  std::deque<int> receives;   // a result to return instead of reading
  std::deque<int> transmits;  // at most this many bytes taken; <= 0 fails

  uint64_t address = 0;
  std::vector<std::string> pins;
  std::vector<int> waitTimeouts;
  std::vector<int> transmitSizes;
  std::vector<int> pauses;
  std::vector<uint8_t> sent;
  bool closed = false;
  std::deque<uint8_t> inbox;
  std::unique_ptr<vexa_sim::DeviceModel> device;
};

class FakeLink : public Vexa::bth::Link {
 public:
  explicit FakeLink(std::shared_ptr<LinkRecord> record) : r_(std::move(record)) {}
  ~FakeLink() override { r_->closed = true; }

  ConnectResult connect(const std::string& pin) override {
    r_->pins.push_back(pin);
    return next(r_->connects, ConnectResult::kConnected);
  }
  WaitResult waitReadable(int timeoutMs) override {
    r_->waitTimeouts.push_back(timeoutMs);
    return next(r_->waits, r_->inbox.empty() ? WaitResult::kTimedOut : WaitResult::kReadable);
  }
  int receive(uint8_t* buf, int len) override {
    if (!r_->receives.empty()) return next(r_->receives, 0);
    int n = 0;
    for (; n < len && !r_->inbox.empty(); ++n) {
      buf[n] = r_->inbox.front();
      r_->inbox.pop_front();
    }
    return n;
  }
  int transmit(const uint8_t* buf, int len) override {
    const int taken = std::min(len, next(r_->transmits, len));
    r_->transmitSizes.push_back(taken);
    if (taken <= 0) return taken;
    r_->sent.insert(r_->sent.end(), buf, buf + taken);
    if (r_->device) {
      r_->device->onHostBytes(buf, static_cast<size_t>(taken), vexa_sim::DeviceModel::Clock::now());
      const std::vector<uint8_t> out = r_->device->takeOutput();
      r_->inbox.insert(r_->inbox.end(), out.begin(), out.end());
    }
    return taken;
  }
  void pause(std::chrono::milliseconds time) override { r_->pauses.push_back(static_cast<int>(time.count())); }

 private:
  template <class T>
  static T next(std::deque<T>& script, T otherwise) {
    if (script.empty()) return otherwise;
    T value = script.front();
    script.pop_front();
    return value;
  }
  std::shared_ptr<LinkRecord> r_;
};

// Opens FakeLinks that all report to record.
inline Vexa::BTH::LinkOpener fakeOpener(std::shared_ptr<LinkRecord> record) {
  return [record](uint64_t address) {
    record->address = address;
    return std::make_unique<FakeLink>(record);
  };
}

}  // namespace vexa_test

#endif  // VEXA_TESTS_BTH_FAKE_LINK_H_
