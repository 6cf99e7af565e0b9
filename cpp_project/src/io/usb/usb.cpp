#include "io/usb/usb.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <mutex>
#include <thread>

#include "io/usb/ftdi_libraries.h"
#include "io/usb/rx_event.h"
#include "vexa/cancel.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace {

// The cause of a failed library call, as the exception's detail.
std::string failed(const char* call, ftdi::Status status) {
  return std::string(call) + " returned FTDI status " + std::to_string(status);
}

constexpr char kDescription[] = "VEXA USB Adapter";
// An adapter just plugged in takes a moment to be listed.
constexpr int kAdapterPolls = 100;
constexpr std::chrono::milliseconds kAdapterPollPause{50};
// Waits are cut into slices so that a removed adapter shows within one.
constexpr int kSliceMs = 1000;

// The number after "USB", read like atoi (blanks, a sign, digits; 0 when
// there are none) except that a number too large for int stays too large
// instead of wrapping round to another adapter.
int adapterIndex(const std::string& path) {
  size_t at = std::min<size_t>(3, path.size());
  while (at < path.size() && std::isspace(static_cast<unsigned char>(path[at]))) ++at;
  bool negative = false;
  if (at < path.size() && (path[at] == '+' || path[at] == '-')) negative = path[at++] == '-';
  long long value = 0;
  for (; at < path.size() && std::isdigit(static_cast<unsigned char>(path[at])); ++at) {
    value = std::min<long long>(value * 10 + (path[at] - '0'), INT_MAX);
  }
  return static_cast<int>(negative ? -value : value);
}

void checkBuffer(const void* buf, int len, const char* function) {
  if (len < 0 || (len > 0 && buf == nullptr)) VEXA_THROW_AT(Error::InvalidParameter, function);
}

// Closes the D2XX handle when it goes.
struct OpenHandle {
  OpenHandle() = default;
  OpenHandle(const OpenHandle&) = delete;
  OpenHandle& operator=(const OpenHandle&) = delete;
  ~OpenHandle() {
    if (handle != nullptr) d2xx->close(handle);
  }
  const Ftd2xxDll* d2xx = nullptr;
  ftdi::Handle handle = nullptr;
};

// Leaves SPI slave mode when it goes.
struct SlaveMode {
  SlaveMode() = default;
  SlaveMode(const SlaveMode&) = delete;
  SlaveMode& operator=(const SlaveMode&) = delete;
  ~SlaveMode() {
    if (ft4222 != nullptr) ft4222->unInitialize(handle);
  }
  const USB::FT4222Dll* ft4222 = nullptr;
  ftdi::Handle handle = nullptr;
};

}  // namespace

// Released bottom-up: SPI slave mode, then the handle, and the event last,
// because the library may signal it until the handle is closed.
struct USB::Adapter {
  std::unique_ptr<RxEvent> event;
  OpenHandle open;
  SlaveMode slave;
  const Ftd2xxDll* d2xx = nullptr;
  const FT4222Dll* ft4222 = nullptr;  // the build that suits the chip
  ftdi::Handle handle = nullptr;
  // One caller in the libraries at a time: the interrupt's send runs on
  // another thread than the receive, and the vendor does not promise that
  // two calls on one handle at once are safe. Held for a call, never for a
  // wait on the event.
  std::mutex calls;
};

// "USB2", "usb02" and "USB 2" name one adapter: the one the index opens.
std::string usbLinkKey(const std::string& path) { return "USB adapter " + std::to_string(adapterIndex(path)); }

USB::USB(const std::string& path) : USB(path, FtdiLibraries::process()) {}

USB::USB(const std::string& path, FtdiLibraries& libraries) {
  rcvTimeout = -2;
  const int index = adapterIndex(path);
  claim_ = LinkRegistry::process().claim(usbLinkKey(path));
  libraries.load();
  for (int poll = 1; poll <= kAdapterPolls && findDevices(libraries).empty(); ++poll) {
    if (poll < kAdapterPolls) cancellableSleep(kAdapterPollPause, "Vexa::USB::USB");
  }

  auto adapter = std::make_unique<Adapter>();
  const Ftd2xxDll& d2xx = libraries.d2xx;
  adapter->d2xx = &d2xx;
  ftdi::Handle handle = nullptr;
  if (const ftdi::Status status = d2xx.open(index, &handle); status != ftdi::kOk) {
    VEXA_THROW_DETAIL(Notification::OpeningPort, failed("FT_Open", status));
  }
  adapter->handle = handle;
  adapter->open.d2xx = &d2xx;
  adapter->open.handle = handle;
  // From here on every throw unwinds through adapter, which undoes each
  // step taken so far.
  if (const ftdi::Status status = d2xx.setUsbParameters(handle, ftdi::kUsbInTransferSize, 0); status != ftdi::kOk) {
    VEXA_THROW_DETAIL(Notification::InitializingPort, failed("FT_SetUSBParameters", status));
  }
  if (const ftdi::Status status = d2xx.setLatencyTimer(handle, ftdi::kLatencyMs); status != ftdi::kOk) {
    VEXA_THROW_DETAIL(Notification::InitializingPort, failed("FT_SetLatencyTimer", status));
  }
  ftdi::Version version{};
  if (const ftdi::Status status = libraries.ft4222.getVersion(handle, &version); status != ftdi::kOk) {
    VEXA_THROW_DETAIL(Notification::InitializingPort, failed("FT4222_GetVersion", status));
  }
  const FT4222Dll& ft4222 = version.chipVersion < ftdi::kFirstRevCChip ? libraries.ft4222ab : libraries.ft4222;
  adapter->ft4222 = &ft4222;

  if (const ftdi::Status status = ft4222.spiSlaveInit(handle); status != ftdi::kOk) {
    VEXA_THROW_DETAIL(Notification::InitializingPort, failed("FT4222_SPISlave_Init", status));
  }
  adapter->slave.ft4222 = &ft4222;
  adapter->slave.handle = handle;
  if (const ftdi::Status status = ft4222.setClock(handle, ftdi::kClock80MHz); status != ftdi::kOk) {
    VEXA_THROW_DETAIL(Notification::InitializingPort, failed("FT4222_SetClock", status));
  }
  adapter->event = std::make_unique<RxEvent>();
  if (const ftdi::Status status = ft4222.setEventNotification(handle, ftdi::kEventRxChar, adapter->event->param());
      status != ftdi::kOk) {
    VEXA_THROW_DETAIL(Notification::InitializingPort, failed("FT4222_SetEventNotification", status));
  }
  adapter_ = std::move(adapter);
}

USB::~USB() = default;

std::vector<DevInfo> USB::findDevices() { return findDevices(FtdiLibraries::process()); }

std::vector<DevInfo> USB::findDevices(FtdiLibraries& libraries) {
  libraries.load();
  const Ftd2xxDll& d2xx = libraries.d2xx;
  ftdi::Dword count = 0;
  if (const ftdi::Status status = d2xx.createDeviceInfoList(&count); status != ftdi::kOk) {
    VEXA_THROW_DETAIL(Notification::InitializingPort, failed("FT_CreateDeviceInfoList", status));
  }
  std::vector<DevInfo> found;
  for (ftdi::Dword index = 0; index < count && index <= INT_MAX; ++index) {
    ftdi::Dword flags = 0, type = 0, id = 0, location = 0;
    char serial[16] = {};
    char description[64] = {};
    ftdi::Handle handle = nullptr;
    if (d2xx.getDeviceInfoDetail(index, &flags, &type, &id, &location, serial, description, &handle) != ftdi::kOk) {
      continue;
    }
    // High speed and not opened by anyone: an FT4222H that is free to use.
    const bool free = (flags & (ftdi::kFlagOpened | ftdi::kFlagHighSpeed)) == ftdi::kFlagHighSpeed;
    if (free && type == ftdi::kTypeFt4222H && id == ftdi::kAdapterId) {
      found.push_back(DevInfo{"USB" + std::to_string(index), kDescription});
    }
  }
  return found;
}

void USB::setRcvTimeout(int timeout) { rcvTimeout = timeout; }

int USB::bytesWaiting() {
  uint16_t waiting = 0;
  std::lock_guard<std::mutex> lock(adapter_->calls);
  if (const ftdi::Status status = adapter_->ft4222->getRxStatus(adapter_->handle, &waiting); status != ftdi::kOk) {
    VEXA_THROW_DETAIL(Notification::ContactingDevice, failed("FT4222_SPISlave_GetRxStatus", status));
  }
  return waiting;
}

int USB::read(uint8_t* buf, uint16_t len) {
  uint16_t got = 0;
  std::lock_guard<std::mutex> lock(adapter_->calls);
  if (const ftdi::Status status = adapter_->ft4222->spiSlaveRead(adapter_->handle, buf, len, &got);
      status != ftdi::kOk) {
    VEXA_THROW_DETAIL(Notification::ContactingDevice, failed("FT4222_SPISlave_Read", status));
  }
  return std::min(got, len);
}

void USB::probe() {
  ftdi::Dword rx = 0, tx = 0, events = 0;
  std::lock_guard<std::mutex> lock(adapter_->calls);
  if (const ftdi::Status status = adapter_->d2xx->getStatus(adapter_->handle, &rx, &tx, &events);
      status != ftdi::kOk) {
    VEXA_THROW_DETAIL(Notification::ContactingDevice, failed("FT_GetStatus", status));
  }
}

int USB::doRecv(void* buf, int len) {
  checkBuffer(buf, len, "USB::recv");
  if (len == 0) return 0;
  using Clock = std::chrono::steady_clock;
  const int timeout = rcvTimeout;  // -2 (never set) waits without limit too
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeout, 0));
  bool waited = false;
  bool lastLook = false;
  for (;;) {
    // Bytes are read only once the library says they are there, so a
    // signal left over from bytes already taken costs one more look, not a
    // false time-out. The mark comes first: bytes signalled after the count
    // end the wait below at once.
    const RxEvent::Mark mark = adapter_->event->mark();
    if (const int waiting = bytesWaiting(); waiting > 0) {
      const uint16_t want = static_cast<uint16_t>(std::min(len, waiting));
      return read(static_cast<uint8_t*>(buf), want);
    }
    if (lastLook) return 0;
    // Inside a cancellable call the slices are shorter, and the call's flag
    // is looked at between them.
    throwIfCancelled("Vexa::USB::recv");
    int slice = cancelSlice(kSliceMs);
    bool lastSlice = false;
    if (timeout == 0) {
      if (waited) return 0;
      slice = 0;
      lastSlice = true;
    } else if (timeout > 0) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return 0;
      slice = cancelSlice(static_cast<int>(std::min<long long>(left, kSliceMs)));
      lastSlice = slice == left;
    }
    waited = true;
    switch (adapter_->event->waitSince(mark, slice)) {
      case RxEvent::Wait::kSignalled:
        continue;
      case RxEvent::Wait::kTimedOut:
        probe();
        // The bytes are counted once more before giving up, in case they
        // came without a signal.
        lastLook = lastSlice;
        continue;
      case RxEvent::Wait::kFailed:
        break;
    }
    VEXA_THROW_AT(Notification::ContactingDevice, "Vexa::USB::recv");
  }
}

void USB::doSend(const void* buf, int len) {
  checkBuffer(buf, len, "USB::send");
  const auto* data = static_cast<const uint8_t*>(buf);
  // One write per call; a buffer beyond the library's 16-bit length goes
  // in as many writes as it takes rather than being cut short.
  while (len > 0) {
    const uint16_t piece = static_cast<uint16_t>(std::min<uint32_t>(static_cast<uint32_t>(len), ftdi::kMaxSpiTransfer));
    uint16_t written = 0;
    std::lock_guard<std::mutex> lock(adapter_->calls);
    const ftdi::Status status = adapter_->ft4222->spiSlaveWrite(adapter_->handle, data, piece, &written);
    if (status != ftdi::kOk) {
      VEXA_THROW_DETAIL_AT(Notification::ContactingDevice, "Vexa::USB::send", failed("FT4222_SPISlave_Write", status));
    }
    if (written != piece) {
      VEXA_THROW_DETAIL_AT(Notification::ContactingDevice, "Vexa::USB::send", "FT4222_SPISlave_Write took " + std::to_string(written) + " of " + std::to_string(piece) +
                            " bytes");
    }
    data += piece;
    len -= piece;
  }
}

}  // namespace Vexa
