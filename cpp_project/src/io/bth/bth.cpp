#include "io/bth/bth.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>

#include "base/x.h"
#include "io/bth/bth_address.h"
#include "io/bth/bth_search.h"
#include "vexa/cancel.h"
#include "vexa/exceptions.h"
#include "vexa/log.h"

namespace Vexa {
namespace {

// Offered first, and again on a retry when the device turned it down.
constexpr char kFirstPin[] = "580";
constexpr char kSecondPin[] = "7093";

// Paced devices take commands two bytes at a time, 5 ms apart; compact
// boards need 200 ms of quiet before each write.
constexpr int kPacedPiece = 2;
constexpr std::chrono::milliseconds kPiecePause{5};
constexpr std::chrono::milliseconds kSettlingPause{200};

void checkBuffer(const void* buf, int len, const char* function) {
  if (len < 0 || (len > 0 && buf == nullptr)) VEXA_THROW_AT(Error::InvalidParameter, function);
}

}  // namespace

std::string bluetoothLinkKey(const std::string& path) {
  const std::optional<uint64_t> address = bth::parseAddress(path);
  return address ? "Bluetooth device " + bth::formatPath(*address).substr(3) : "";
}

BTH::BTH(const std::string& path) : BTH(path, &bth::openLink) {}

BTH::BTH(const std::string& path, const LinkOpener& openLink) {
  rcvTimeout = -2;
  const std::optional<uint64_t> address = bth::parseAddress(path);
  if (!address) VEXA_THROW(Error::InvalidParameter);
  claim_ = LinkRegistry::process().claim(bluetoothLinkKey(path));
  link_ = openLink(*address);

  bth::ConnectResult result = link_->connect(kFirstPin);
  if (result == bth::ConnectResult::kPinRejected) result = link_->connect(kSecondPin);
  // Throwing from here destroys link_, which closes the socket.
  const std::string cause = link_->lastError();
  switch (result) {
    case bth::ConnectResult::kConnected:
      return;
    case bth::ConnectResult::kAdapterDown:
      VEXA_THROW_DETAIL(Notification::AdapterNotFound, cause);
    case bth::ConnectResult::kNoAnswer:
      VEXA_THROW_DETAIL(Notification::DeviceNotFound, cause);
    case bth::ConnectResult::kPinRejected:
    case bth::ConnectResult::kFailed:
      break;
  }
  VEXA_THROW_DETAIL(Notification::OpeningPort, cause);
}

BTH::~BTH() = default;

std::vector<DevInfo> BTH::findDevices() {
  bth::SearchState& state = bth::processSearchState();
  // The radio's notifications go to one listener per process at a time.
  std::unique_lock<std::mutex> one(state.busy, std::try_to_lock);
  if (!one.owns_lock()) VEXA_THROW(Exception);
  std::unique_ptr<bth::Radio> radio = bth::openRadio();
  return bth::searchOn(*radio, state);
}

void BTH::setRcvTimeout(int timeout) {
  if (timeout == rcvTimeout) return;
  rcvTimeout = timeout;
}

int BTH::doRecv(void* buf, int len) {
  checkBuffer(buf, len, "BTH::recv");
  if (len == 0) return 0;
  using Clock = std::chrono::steady_clock;
  // -2 (never set) waits without limit like any negative value.
  const int timeout = rcvTimeout < 0 ? -1 : rcvTimeout;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout < 0 ? 0 : timeout);
  for (bool readable = false; !readable;) {
    int wait = timeout;
    if (timeout > 0) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = left > 0 ? static_cast<int>(left) : 0;
    }
    // Inside a cancellable call the wait goes in slices, looking at the
    // call's flag between them.
    throwIfCancelled("Vexa::BTH::recv");
    const int slice = cancelSlice(wait);
    switch (link_->waitReadable(slice)) {
      case bth::WaitResult::kTimedOut:
        if (slice != wait) continue;
        return 0;
      case bth::WaitResult::kFailed:
        VEXA_THROW_DETAIL_AT(Notification::ContactingDevice, "Vexa::BTH::recv", link_->lastError());
      case bth::WaitResult::kReadable:
        readable = true;
        break;
    }
  }
  const int n = link_->receive(static_cast<uint8_t*>(buf), len);
  // 0: the device closed the link.
  if (n <= 0) VEXA_THROW_DETAIL_AT(Notification::ContactingDevice, "Vexa::BTH::recv", link_->lastError());
  return n;
}

void BTH::doSend(const void* buf, int len) {
  checkBuffer(buf, len, "BTH::send");
  const auto* data = static_cast<const uint8_t*>(buf);
  // Before the handshake has run there is no family: the plain case.
  const DeviceFamily family = owner != nullptr ? owner->family : DeviceFamily::kOldest;
  if (family == DeviceFamily::kCurrentPaced) {
    sendPaced(data, len);
    return;
  }
  if (family == DeviceFamily::kCompactBoard) link_->pause(kSettlingPause);
  if (!sendWhole(data, len)) {
    logMessage(LogLevel::kWarning, "[BTHWIN] ERROR in write: " + link_->lastError());
    VEXA_THROW_DETAIL_AT(Notification::ContactingDevice, "Vexa::BTH::send", link_->lastError());
  }
}

void BTH::sendPaced(const uint8_t* data, int len) {
  for (int at = 0; at < len; at += kPacedPiece) {
    const int piece = len - at < kPacedPiece ? len - at : kPacedPiece;
    if (!sendWhole(data + at, piece)) {
      VEXA_THROW_DETAIL(Notification::ContactingDevice, link_->lastError());
    }
    link_->pause(kPiecePause);
  }
}

bool BTH::sendWhole(const uint8_t* data, int len) {
  // A stream socket may take part of a buffer and the rest on the next
  // call; only a call that takes nothing means the link failed.
  while (len > 0) {
    const int n = link_->transmit(data, len);
    if (n <= 0) return false;
    data += n;
    len -= n;
  }
  return true;
}

void bth::Link::pause(std::chrono::milliseconds time) { std::this_thread::sleep_for(time); }

}  // namespace Vexa
