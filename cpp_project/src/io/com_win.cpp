// Serial-port transport for Windows.
//
// The port is opened for overlapped I/O. A handle opened for synchronous I/O
// serialises every operation on it, so a send from a second thread (the
// loop's interrupt) would wait until the loop thread's pending read returned:
// up to the receive time-out, or for ever when there is none. Reads and
// writes therefore each have their own OVERLAPPED and manual-reset event, and
// every call waits for its own operation to finish before it returns, so the
// caller's buffer is never touched by the kernel after recv or send returns.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cctype>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "com.h"
#include "io/os_error.h"
#include "io/utf8_path.h"
#include "vexa/cancel.h"
#include "vexa/exceptions.h"

namespace Vexa {

namespace {

// "\\.\" names the port in the Win32 device namespace.
constexpr char kDevicePrefix[] = "\\\\.\\";
// The device name fits a 40-byte buffer with its terminator, so the port name
// itself holds at most 35 characters.
constexpr std::size_t kDeviceNameSize = 40;
constexpr std::size_t kMaxPortNameLength = kDeviceNameSize - (sizeof kDevicePrefix - 1) - 1;

// Every write may take at most this long before it ends short.
constexpr DWORD kWriteTimeoutMs = 5000;

// Owns one kernel handle. CreateFileW reports failure with
// INVALID_HANDLE_VALUE and CreateEvent with null; both count as empty.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE h) : h_(h) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset();
      h_ = std::exchange(other.h_, nullptr);
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  HANDLE get() const { return h_; }
  bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }

  void reset() {
    if (valid()) CloseHandle(h_);
    h_ = nullptr;
  }

 private:
  HANDLE h_ = nullptr;
};

// One direction of transfer: its operation record and the event the driver
// signals when the operation completes. The lock keeps two callers of the
// same direction from sharing the record while the kernel owns it.
struct Channel {
  UniqueHandle event;
  OVERLAPPED ov{};
  std::mutex lock;
};

// True once the kernel has written the final status of the operation. The
// status word is written by another agent, so it is read through volatile.
bool completed(const OVERLAPPED& ov) {
  return *static_cast<const volatile ULONG_PTR*>(&ov.Internal) != STATUS_PENDING;
}

// Waits for an operation that ReadFile or WriteFile started (pending or
// already complete) and reports its byte count. Returns false when the
// operation failed or could not be waited for; either way it is over when
// this returns, so the OVERLAPPED and the data buffer may be reused or freed.
// Inside a cancellable call the wait goes in slices; a cancel ends the
// operation and throws Error::Cancelled once the kernel has let go of it.
bool finish(HANDLE file, OVERLAPPED& ov, DWORD& transferred) {
  DWORD waited;
  while ((waited = WaitForSingleObject(ov.hEvent, cancellable() ? kCancelSliceMs : INFINITE)) == WAIT_TIMEOUT) {
    if (!cancelRequested()) continue;
    CancelIoEx(file, &ov);
    while (!completed(ov)) Sleep(1);
    throwIfCancelled("Vexa::COM::finish");
  }
  if (waited != WAIT_OBJECT_0) {
    // Without a working wait the kernel could still write into the caller's
    // buffer after we return: cancel, then hold on until it has let go.
    CancelIoEx(file, &ov);
    while (!completed(ov)) Sleep(1);
    transferred = 0;
    return false;
  }
  if (GetOverlappedResult(file, &ov, &transferred, FALSE)) return true;
  // Some serial drivers (Wine's among them) end a read that ran into its
  // time-out with a time-out status instead of success; what arrived until
  // then still counts, and nothing failed.
  return GetLastError() == ERROR_TIMEOUT;
}

// Clears the operation record for the next transfer, keeping its event.
void prepare(OVERLAPPED& ov) {
  HANDLE event = ov.hEvent;
  ov = OVERLAPPED{};
  ov.hEvent = event;
}

UniqueHandle makeEvent() {
  // Manual reset, initially clear; ReadFile and WriteFile clear it again when
  // an operation starts.
  return UniqueHandle(CreateEventA(nullptr, TRUE, FALSE, nullptr));
}

}  // namespace

struct COM::Port {
  Channel reader;
  Channel writer;
  // Declared last so that it is closed first, before the events it uses.
  UniqueHandle file;
};

std::string serialLinkKey(const std::string& portName) {
  // COM7, com7 and \\.\COM7 are one port: Windows ignores the letter case
  // of device names, and the prefix only names the namespace.
  std::string name = portName.compare(0, sizeof kDevicePrefix - 1, kDevicePrefix) == 0
                         ? portName.substr(sizeof kDevicePrefix - 1)
                         : portName;
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return "serial port " + name;
}

COM::COM(const std::string& portName, LinkClaim claim) : claim_(std::move(claim)) {
  // A longer name cannot be stored whole; cutting it could name another
  // port, and so could a name cut short by an embedded terminator.
  const bool prefixed = portName.compare(0, sizeof kDevicePrefix - 1, kDevicePrefix) == 0;
  const std::size_t nameLength = portName.size() - (prefixed ? sizeof kDevicePrefix - 1 : 0);
  if (nameLength > kMaxPortNameLength || portName.find('\0') != std::string::npos)
    VEXA_THROW_DETAIL(Notification::OpeningPort, "the port name is longer than 35 characters");

  auto port = std::make_unique<Port>();
  port->reader.event = makeEvent();
  port->writer.event = makeEvent();
  if (!port->reader.event.valid() || !port->writer.event.valid())
    VEXA_THROW_DETAIL(Notification::OpeningPort, "CreateEvent: " + windowsErrorText(GetLastError()));
  port->reader.ov.hEvent = port->reader.event.get();
  port->writer.ov.hEvent = port->writer.event.get();

  // Exclusive read/write access to an existing port. No line parameters are
  // set: baud rate, framing, flow control and time-outs stay as the driver
  // has them until the first setRcvTimeout.
  const std::string deviceName = prefixed ? portName : kDevicePrefix + portName;
  std::wstring wideName;
  if (!widen(deviceName, wideName)) VEXA_THROW_DETAIL(Notification::OpeningPort, "the port name is not UTF-8");
  port->file = UniqueHandle(CreateFileW(wideName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
  // Windows reports a port that another program holds as access denied.
  if (!port->file.valid()) {
    const DWORD err = GetLastError();
    std::string detail = "open " + deviceName + ": " + windowsErrorText(err);
    if (err == ERROR_ACCESS_DENIED) detail += "; another program may hold the port";
    VEXA_THROW_DETAIL(Notification::OpeningPort, detail);
  }

  port_ = std::move(port);
}

COM::~COM() = default;

void COM::applyReadTimeout(int stored) {
  COMMTIMEOUTS timeouts{};
  // A read returns when the full count has arrived or when the constant has
  // passed since it began, with whatever arrived. 0 means no limit; a
  // negative value can only mean "no limit" too, and must not turn into a
  // huge unsigned wait.
  timeouts.ReadIntervalTimeout = 0;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = stored > 0 ? static_cast<DWORD>(stored) : 0;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = kWriteTimeoutMs;
  if (!SetCommTimeouts(port_->file.get(), &timeouts)) {
    VEXA_THROW_DETAIL(Notification::ContactingDevice, "SetCommTimeouts: " + windowsErrorText(GetLastError()));
  }
}

int COM::doRecv(void* buf, int len) {
  if (len < 0 || (len > 0 && buf == nullptr)) VEXA_THROW_AT(Error::InvalidParameter, "Vexa::COM::recv");
  if (len == 0) return 0;

  Channel& ch = port_->reader;
  std::lock_guard<std::mutex> guard(ch.lock);
  prepare(ch.ov);
  if (!ReadFile(port_->file.get(), buf, static_cast<DWORD>(len), nullptr, &ch.ov) &&
      GetLastError() != ERROR_IO_PENDING)
    VEXA_THROW_DETAIL_AT(Notification::ContactingDevice, "Vexa::COM::recv", "ReadFile: " + windowsErrorText(GetLastError()));

  // A time-out is not a failure: the read completes with what arrived,
  // possibly nothing.
  DWORD got = 0;
  if (!finish(port_->file.get(), ch.ov, got))
    VEXA_THROW_AT(Notification::ContactingDevice, "Vexa::COM::recv");
  return static_cast<int>(got);
}

void COM::doSend(const void* buf, int len) {
  if (len < 0 || (len > 0 && buf == nullptr)) VEXA_THROW_AT(Error::InvalidParameter, "Vexa::COM::send");
  if (len == 0) return;

  Channel& ch = port_->writer;
  std::lock_guard<std::mutex> guard(ch.lock);
  prepare(ch.ov);
  if (!WriteFile(port_->file.get(), buf, static_cast<DWORD>(len), nullptr, &ch.ov) &&
      GetLastError() != ERROR_IO_PENDING)
    VEXA_THROW_DETAIL_AT(Notification::ContactingDevice, "Vexa::COM::send", "WriteFile: " + windowsErrorText(GetLastError()));

  // A write that ran into the write time-out ends short; the device would
  // see a truncated command, so that is a failure as well.
  DWORD sent = 0;
  if (!finish(port_->file.get(), ch.ov, sent) || sent != static_cast<DWORD>(len))
    VEXA_THROW_AT(Notification::ContactingDevice, "Vexa::COM::send");
}

}  // namespace Vexa
