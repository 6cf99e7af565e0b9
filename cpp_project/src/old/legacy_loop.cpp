// The acquisition loop of the two legacy families, which read fixed-size
// frames instead of messages. It follows the same state rules as the
// message loop, so interrupt() works the same way.
#include "base/wait_unlocked.h"
#include "signals/signals_x.h"
#include "vexa/event.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace {

// Queued when a frame has been read but not yet delivered: the next turn of
// the loop reports its input changes first, then delivers it.
PendingMsg frameMarker() { return PendingMsg{0, {}}; }

}  // namespace

void BaseDev::X::loopOld_Bit() {
  // A plain device object has no acquisition state to deliver frames with.
  if (!sigX) VEXA_THROW(Error::InvalidInstance);
  const int inputs = family == DeviceFamily::kOldest ? 1 : 4;
  SignalsX& sig = *sigX;
  for (;;) {
    for (int i = 0; i < inputs; ++i) {
      if (sig.digitalIn[i] == sig.digitalInReported[i]) continue;
      sig.digitalInReported[i] = sig.digitalIn[i];
      Events::DigitalInput ev{};
      ev.type = Event::kDigitalInput;
      ev.clockSource = 2;
      ev.clockValue = static_cast<uint32_t>(sig.counter);
      ev.input = i;
      ev.state = sig.digitalIn[i] != 0;
      if (dev->onEvent(ev)) return;
    }
    if (!pending.empty()) {
      pending.clear();
      if (acquiring() && sig.owner.onRawFrame(static_cast<int32_t>(sig.counter++), sig.samples.data())) return;
    }

    state = kReceiving;
    bool timedOut;
    int idleBytes = 0;
    const bool frameExpected = acquiring();
    {
      const WaitUnlocked wait(mutex);
      io->setRcvTimeout(loopTimeout);
      if (frameExpected) {
        timedOut = family == DeviceFamily::kOldest ? sig.recvFrameOld() : sig.recvFrameBit();
      } else {
        const int size = packetSize != 0 ? packetSize : 1;
        if (rxBuf.size() < static_cast<size_t>(size)) rxBuf.resize(size);
        idleBytes = io->recv(rxBuf.data(), size);
        timedOut = idleBytes <= 0;
      }
    }

    switch (state) {
      case kReceiving:
        state = kDispatching;
        if (timedOut) {
          if (dev->onTimeout()) return;
          break;
        }
        if (!frameExpected) VEXA_THROW(Notification::ContactingDevice);
        // The first frame of an acquisition reports every input.
        if (sig.counter == 0) {
          for (int j = 0; j < 4; ++j) sig.digitalInReported[j] = !sig.digitalIn[j];
        }
        pending.push_back(frameMarker());
        break;
      case kInterruptAcquiring:
        if (frameExpected && !timedOut) pending.push_back(frameMarker());
        if (dev->onInterrupt(interruptParam)) return;
        break;
      case kInterruptIdle:
        // The interrupt asked for the version banner: consume it.
        if (family == DeviceFamily::kOldest) {
          syncOld(idleBytes);
        } else {
          syncBit(idleBytes);
        }
        if (dev->onInterrupt(interruptParam)) return;
        break;
      default:
        break;
    }
  }
}

}  // namespace Vexa
