// Waiting for responses, procedure completions, the connection and data.
//
// Deadlines use a monotonic clock. Each wait reads once before it looks at
// the clock and gives up only once the clock is past its deadline, so a
// wait may overrun by up to one serial read.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "io/ble/com_ble.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point after(int ms) { return Clock::now() + std::chrono::milliseconds(ms); }

bool past(Clock::time_point deadline) { return Clock::now() > deadline; }

// Largest buffer any wait reads with: a scan record and its name.
constexpr int kScratchSize = 50;

}  // namespace

bool COM_BLE::awaitResponse(int bufLen, int limitMs) {
  uint8_t scratch[kScratchSize];
  const int len = std::clamp(bufLen, 0, kScratchSize);
  const auto deadline = after(limitMs);
  ReaderTurn turn(*this);
  applyTimeout(wantedTimeout());
  int refusal = 0;
  do {
    // Only a response is one: an event or attribute value that happens to
    // give 0 is not the answer to the command.
    const Message m = readMessage(scratch, len);
    if (m.kind == Kind::kResponse && m.result == 0) return true;
    if (m.kind == Kind::kResponse) refusal = m.result;
  } while (!past(deadline));
  char text[80];
  if (refusal != 0) {
    std::snprintf(text, sizeof text, "the BLE dongle refused the command: BGAPI result 0x%04X", refusal);
  } else {
    std::snprintf(text, sizeof text, "the BLE dongle did not answer within %d ms", limitMs);
  }
  responseFailure_ = text;
  return false;
}

void COM_BLE::wait_response() {
  if (!awaitResponse(0, timings_.responseMs)) {
    VEXA_THROW_DETAIL(Notification::ContactingDevice, responseFailure_);
  }
}

void COM_BLE::wait_connected() {
  uint8_t scratch[9];
  const auto deadline = after(timings_.connectMs);
  ReaderTurn turn(*this);
  applyTimeout(wantedTimeout());
  do {
    if (readMessage(scratch, sizeof scratch).result == kBleConnected) return;
  } while (!past(deadline));
  VEXA_THROW(Notification::DeviceNotFound);
}

void COM_BLE::wait_prccomplete(bool keep) {
  const auto deadline = after(timings_.procedureMs);
  std::unique_lock<std::mutex> lock(state_);
  for (;;) {
    if (completions_ > procedureMark_) return;
    throwIfDisconnected();
    if (reading_) {
      // Another thread reads the link (a loop blocked in receiveValue): it
      // counts the completion for us.
      if (!changed_.wait_until(lock, deadline, [this] {
            return completions_ > procedureMark_ || disconnected_ || !reading_;
          })) {
        VEXA_THROW(Notification::ContactingDevice);
      }
      continue;
    }
    {
      const int wait = wanted_;
      ReaderTurn turn(*this, lock);
      applyTimeout(wait);
      uint8_t value[bgapi::kMaxAttributeValue];
      const Message m = readMessage(value, sizeof value);
      if (keep && m.kind == Kind::kValue && m.result > 0) {
        std::lock_guard<std::mutex> guard(state_);
        queue_.emplace_back(value, value + m.result);
        changed_.notify_all();
      }
    }
    lock.lock();
    if (completions_ > procedureMark_) return;
    if (past(deadline)) VEXA_THROW(Notification::ContactingDevice);
  }
}

int COM_BLE::receiveValue(uint8_t* buf, int len) {
  if (len <= 0 || buf == nullptr) return 0;
  std::unique_lock<std::mutex> lock(state_);
  const int timeout = wanted_;
  const bool limited = timeout >= 0;
  const auto deadline = after(std::max(timeout, 0));
  auto takeQueued = [&] {
    std::vector<uint8_t> value = std::move(queue_.front());
    queue_.pop_front();
    const int n = std::min(len, static_cast<int>(value.size()));
    std::memcpy(buf, value.data(), static_cast<size_t>(n));
    return n;
  };
  // While a writer reads the link, what it queues is ours.
  auto ready = [this] { return !queue_.empty() || !reading_ || disconnected_; };
  if (limited) {
    changed_.wait_until(lock, deadline, ready);
  } else {
    changed_.wait(lock, ready);
  }
  if (!queue_.empty()) return takeQueued();
  throwIfDisconnected();
  if (reading_) return 0;  // the time-out passed while a writer read

  ReaderTurn turn(*this, lock);
  for (;;) {
    // Other messages do not end the wait: only data, or the time-out.
    int wait = timeout;
    if (timeout > 0) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = static_cast<int>(std::max<decltype(left)>(left, 1));
    }
    applyTimeout(wait);
    const Message m = readMessage(buf, len);
    if (m.kind == Kind::kValue && m.result > 0) return m.result;
    if (m.result == kBleNothingArrived || (limited && !(Clock::now() < deadline))) return 0;
  }
}

}  // namespace Vexa
