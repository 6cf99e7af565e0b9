// RFCOMM sockets of the Linux kernel's own Bluetooth stack. Pairing belongs
// to the system (bluetoothctl or the desktop's settings), so the PIN is not
// used here and a refused connection is never retried.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "io/bth/bth_platform.h"
#include "io/os_error.h"
#include "vexa/cancel.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace bth {
namespace {

// The kernel's values, declared here so that no Bluetooth library or its
// headers are needed.
constexpr int kRfcommProtocol = 3;
constexpr uint8_t kChannel = 1;
constexpr int kReceiveBuffer = 131072;

// The kernel's RFCOMM socket address: family, address least significant
// byte first, channel.
struct RfcommAddress {
  sa_family_t family;
  uint8_t address[6];
  uint8_t channel;
};
static_assert(sizeof(RfcommAddress) == 10, "layout of the kernel's RFCOMM address");

ConnectResult resultOf(int error) {
  switch (error) {
    case 0:
      return ConnectResult::kConnected;
    case EHOSTUNREACH:  // no radio that is up to route through
    case ENETDOWN:
    case ENETUNREACH:
    case ENODEV:
      return ConnectResult::kAdapterDown;
    case EHOSTDOWN:  // page time-out: the device is off or out of range
    case ETIMEDOUT:
      return ConnectResult::kNoAnswer;
    default:
      return ConnectResult::kFailed;
  }
}

class LinuxLink : public Link {
 public:
  LinuxLink(int fd, uint64_t address) : fd_(fd), address_(address) {}
  ~LinuxLink() override { close(fd_); }

  ConnectResult connect(const std::string&) override {
    RfcommAddress to{};
    to.family = AF_BLUETOOTH;
    for (int i = 0; i < 6; ++i) to.address[i] = static_cast<uint8_t>(address_ >> (8 * i));
    to.channel = kChannel;
    // Inside a cancellable call the page (many seconds when the device is
    // away) runs in the background and is waited for in slices; a cancel
    // throws, and closing the socket with the link abandons the connection.
    const int flags = fcntl(fd_, F_GETFL);
    const bool sliced = cancellable() && flags >= 0 && fcntl(fd_, F_SETFL, flags | O_NONBLOCK) == 0;
    const int connected = ::connect(fd_, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    const int connectError = errno;
    if (sliced) fcntl(fd_, F_SETFL, flags);
    if (connected == 0) return ConnectResult::kConnected;
    if (connectError != EINTR && !(sliced && connectError == EINPROGRESS)) return failed("connect", connectError);
    // The connection goes on in the background; wait for it.
    pollfd pfd{fd_, POLLOUT, 0};
    for (;;) {
      throwIfCancelled("Vexa::bth::LinuxLink::connect");
      const int ready = poll(&pfd, 1, cancelSlice(-1));
      if (ready > 0) break;
      if (ready < 0 && errno != EINTR) return failed("poll", errno);
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return failed("getsockopt", errno);
    return error == 0 ? ConnectResult::kConnected : failed("connect", error);
  }

  WaitResult waitReadable(int timeoutMs) override {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
      int wait = -1;
      if (timeoutMs >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        wait = left > 0 ? static_cast<int>(left) : 0;
      }
      pollfd pfd{fd_, POLLIN, 0};
      const int ready = poll(&pfd, 1, wait);
      if (ready > 0) return WaitResult::kReadable;  // hang-ups show in receive
      if (ready == 0) return WaitResult::kTimedOut;
      if (errno != EINTR) {
        remember("poll", errno);
        return WaitResult::kFailed;
      }
    }
  }

  int receive(uint8_t* buf, int len) override {
    for (;;) {
      const ssize_t n = ::recv(fd_, buf, static_cast<size_t>(len), 0);
      if (n == 0) lastError_ = "the device closed the link";
      if (n >= 0) return static_cast<int>(n);
      if (errno != EINTR) return remember("recv", errno);
    }
  }

  int transmit(const uint8_t* buf, int len) override {
    for (;;) {
      // No SIGPIPE: a device that went away must not end the host process.
      const ssize_t n = ::send(fd_, buf, static_cast<size_t>(len), MSG_NOSIGNAL);
      if (n >= 0) return static_cast<int>(n);
      if (errno != EINTR) return remember("send", errno);
    }
  }

  std::string lastError() const override { return lastError_; }

 private:
  int remember(const char* call, int error) {
    lastError_ = std::string(call) + ": " + errnoText(error);
    return -1;
  }
  ConnectResult failed(const char* call, int error) {
    remember(call, error);
    return resultOf(error);
  }

  int fd_;
  uint64_t address_;
  std::string lastError_;
};

}  // namespace

std::unique_ptr<Link> openLink(uint64_t address) {
  const int fd = socket(AF_BLUETOOTH, SOCK_STREAM | SOCK_CLOEXEC, kRfcommProtocol);
  if (fd < 0) {
    // A kernel without Bluetooth has no adapter to offer.
    const std::string cause = "socket: " + errnoText(errno);
    if (errno == EAFNOSUPPORT) VEXA_THROW_DETAIL(Notification::AdapterNotFound, cause);
    VEXA_THROW_DETAIL(Notification::InitializingPort, cause);
  }
  std::unique_ptr<LinuxLink> link;
  try {
    link = std::make_unique<LinuxLink>(fd, address);
  } catch (...) {
    close(fd);
    throw;
  }
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);  // a hint only
  return link;
}

}  // namespace bth
}  // namespace Vexa
