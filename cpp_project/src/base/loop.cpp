// The device loop and its interrupt from another thread.
#include "base/wait_unlocked.h"
#include "base/x.h"
#include "signals/signals_x.h"
#include "vexa/exceptions.h"
#include "vexa/host_clock.h"

namespace Vexa {
namespace {

constexpr int kReplyTimeoutMs = 5000;

}  // namespace

void BaseDev::loop() {
  if (!x) VEXA_THROW(Error::InvalidInstance);
  // Checked under the lock, so two threads cannot both start a loop.
  std::unique_lock<std::recursive_mutex> lock(x->mutex);
  if (x->state != kIdle) VEXA_THROW(Error::InvalidOperation, 0);
  // However the loop ends, it is idle again before the mutex is released
  // (members unwind in reverse order: this one before the lock).
  struct BackToIdle {
    X& x;
    ~BackToIdle() { x.state = kIdle; }
  } idle{*x};
  x->state = kDispatching;
  if (isLegacy(x->family)) {
    x->loopOld_Bit();
  } else {
    x->loop();
  }
}

void BaseDev::interrupt(void* param) {
  if (!x) VEXA_THROW(Error::InvalidInstance);
  int32_t seen;
  bool acquiring = false;
  {
    std::lock_guard<std::recursive_mutex> lock(x->mutex);
    seen = x->state;
    if (seen == kReceiving) {
      x->interruptParam = param;
      acquiring = x->acquiring();
      x->state = acquiring ? kInterruptAcquiring : kInterruptIdle;
    }
  }
  // No loop waits for data (none runs, or this is a callback of the loop).
  if (seen != kReceiving) VEXA_THROW(Error::InvalidOperation, 0);
  // A streaming device wakes the loop with its next frame.
  if (acquiring) return;
  // An idle device is made to answer so that the waiting receive ends.
  if (x->family == DeviceFamily::kOldest) {
    static const uint8_t kVersionProbe = 'V';
    x->io->send(&kVersionProbe, 1);
  } else if (x->family == DeviceFamily::kCompactBoard) {
    static const uint8_t kVersionRequest = 0x07;
    x->io->send(&kVersionRequest, 1);
  } else {
    x->sendCommand({0x03, 0x00}, true);
  }
}

void BaseDev::X::loop() {
  if (dispatchPending()) return;
  for (;;) {
    state = kReceiving;
    uint16_t len = 0;
    uint16_t code;
    double arrival;
    {
      const WaitUnlocked wait(mutex);
      code = recvMsg(len, loopTimeout, false);
      arrival = hostTime();
    }

    bool stop = false;
    switch (state) {
      case kReceiving:
        state = kDispatching;
        stop = code == kNoMessage ? dev->onTimeout() : dispatchMsg(code, rxBuf.data(), len, arrival);
        break;
      case kInterruptAcquiring:
        if (code != kNoMessage) queueMsg(code, len);
        stop = dev->onInterrupt(interruptParam);
        break;
      case kInterruptIdle:
        // The interrupt sent the version command: read up to its reply,
        // keeping whatever else arrives for later.
        while (code != 0x00) {
          if (code == 0x01) VEXA_THROW(Notification::ContactingDevice);
          if (code != kNoMessage) queueMsg(code, len);
          code = recvMsg(len, kReplyTimeoutMs, false);
          // A device that stays silent for a whole reply time-out will not
          // answer; waiting on would hang the caller for ever.
          if (code == kNoMessage) VEXA_THROW(Notification::ContactingDevice);
        }
        stop = dev->onInterrupt(interruptParam);
        break;
      default:
        break;
    }
    if (stop) return;
    if (dispatchPending()) return;
  }
}

}  // namespace Vexa
