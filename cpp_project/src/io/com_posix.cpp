// Serial-port transport for Linux and other POSIX systems.
//
// "COM" followed by an absolute path opens that device (COM/dev/ttyUSB0,
// COM/dev/rfcomm0, COM/dev/pts/3); "COMn" opens /dev/ttyS(n-1), the port
// Windows would call COMn. The port is locked exclusively and switched to
// raw 8-bit mode; its speed stays as it was. Waits use poll(), so one thread
// can send while another is blocked receiving; inside a cancellable call a
// cancel ends a receive's wait within one slice.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "com.h"
#include "io/os_error.h"
#include "vexa/cancel.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace {

constexpr size_t kMaxDevicePath = 255;
constexpr int kWriteTimeoutMs = 5000;
constexpr size_t kReadAhead = 4096;

// The device a connection path names, or "" when the name is not usable.
std::string devicePathOf(const std::string& portName) {
  if (portName.size() < 4 || portName.size() - 3 > kMaxDevicePath) return "";
  if (portName.find('\0') != std::string::npos) return "";
  std::string rest = portName.substr(3);
  if (rest[0] == '/') return rest;
  if (rest.size() > 3 || !std::all_of(rest.begin(), rest.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
    return "";
  }
  int number = std::stoi(rest);
  if (number < 1) return "";
  return "/dev/ttyS" + std::to_string(number - 1);
}

// Milliseconds to give poll() for a stored time-out: 0 and below wait
// without limit (the stored -2 before any time-out is set, too).
int pollTimeout(int stored) { return stored > 0 ? stored : -1; }

}  // namespace

struct COM::Port {
  explicit Port(int fd) : fd(fd) {}
  ~Port() {
    if (restoreSettings) tcsetattr(fd, TCSANOW, &saved);
    // The exclusive-use flag belongs to the terminal, not to this file: it
    // would outlive the close while anyone else holds the line open.
    ioctl(fd, TIOCNXCL);
    close(fd);  // also drops the lock
  }
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;

  int fd;
  termios saved{};
  bool restoreSettings = false;
  // Bytes read from the port but not yet handed out: one read() serves many
  // small recv calls of the message reader.
  uint8_t ahead[kReadAhead];
  size_t aheadPos = 0;
  size_t aheadEnd = 0;
};

// Why open() refused a port, with what usually mends it.
std::string openFailure(const std::string& device, int err) {
  std::string text = "open " + device + ": " + errnoText(err);
  if (err == EACCES || err == EPERM) text += "; the user may need to join the group that owns the port (often dialout)";
  return text;
}

std::string serialLinkKey(const std::string& portName) {
  const std::string device = devicePathOf(portName);
  if (device.empty()) return "serial port " + portName;
  // /dev/serial/by-id/... and the other links name the tty they point to.
  char resolved[PATH_MAX];
  return "serial port " + std::string(realpath(device.c_str(), resolved) != nullptr ? resolved : device.c_str());
}

COM::COM(const std::string& portName, LinkClaim claim) : claim_(std::move(claim)) {
  const std::string device = devicePathOf(portName);
  if (device.empty()) {
    VEXA_THROW_DETAIL(Notification::OpeningPort, "\"" + portName + "\" names no serial port: use COM followed by an absolute device path, or COMn");
  }
  int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) VEXA_THROW_DETAIL(Notification::OpeningPort, openFailure(device, errno));
  auto port = std::make_unique<Port>(fd);  // closes fd if anything below throws

  termios tio{};
  if (!isatty(fd) || tcgetattr(fd, &tio) != 0) {
    VEXA_THROW_DETAIL(Notification::OpeningPort, device + " is not a serial port: " + errnoText(errno));
  }
  // One user of the port at a time, in this process or any other.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    VEXA_THROW_DETAIL(Notification::OpeningPort, device + " is held by another program (flock: " + errnoText(errno) + ")");
  }
  ioctl(fd, TIOCEXCL);

  port->saved = tio;
  cfmakeraw(&tio);  // no echo, no translation, 8 data bits; speed untouched
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  tio.c_cflag &= ~CRTSCTS;
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (tcsetattr(fd, TCSANOW, &tio) != 0) {
    VEXA_THROW_DETAIL(Notification::InitializingPort, "tcsetattr " + device + ": " + errnoText(errno));
  }
  port->restoreSettings = true;
  // Bytes left over from an earlier user of the port belong to no one now.
  tcflush(fd, TCIOFLUSH);
  port_ = std::move(port);
}

COM::~COM() = default;

// poll() takes the time-out on every wait, so there is nothing to program.
void COM::applyReadTimeout(int) {}

int COM::doRecv(void* buf, int len) {
  if (len <= 0) return 0;
  Port& p = *port_;
  if (p.aheadPos == p.aheadEnd) {
    using Clock = std::chrono::steady_clock;
    const int timeout = pollTimeout(rcvTimeout);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout);
    for (;;) {
      int wait = timeout;
      if (timeout > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        wait = static_cast<int>(std::max<decltype(left)>(left, 0));
      }
      // Inside a cancellable call the wait goes in slices, looking at the
      // call's flag between them.
      throwIfCancelled("Vexa::COM::recv");
      const int slice = cancelSlice(wait);
      pollfd pfd{p.fd, POLLIN, 0};
      int ready = poll(&pfd, 1, slice);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) VEXA_THROW_DETAIL_AT(Notification::ContactingDevice, "Vexa::COM::recv", "poll: " + errnoText(errno));
      if (ready == 0 && slice != wait) continue;
      if (ready == 0) return 0;
      ssize_t n = read(p.fd, p.ahead, kReadAhead);
      if (n > 0) {
        p.aheadPos = 0;
        p.aheadEnd = static_cast<size_t>(n);
        break;
      }
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      // End of file or an error (EIO once the other end hung up).
      VEXA_THROW_DETAIL_AT(Notification::ContactingDevice, "Vexa::COM::recv", n == 0 ? std::string("the port was closed") : "read: " + errnoText(errno));
    }
  }
  size_t take = std::min(static_cast<size_t>(len), p.aheadEnd - p.aheadPos);
  std::memcpy(buf, p.ahead + p.aheadPos, take);
  p.aheadPos += take;
  return static_cast<int>(take);
}

void COM::doSend(const void* buf, int len) {
  if (len <= 0) return;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
  const auto* p = static_cast<const uint8_t*>(buf);
  size_t left = static_cast<size_t>(len);
  while (left > 0) {
    ssize_t n = write(port_->fd, p, left);
    if (n > 0) {
      p += n;
      left -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      VEXA_THROW_DETAIL_AT(Notification::ContactingDevice, "Vexa::COM::send", "write: " + errnoText(errno));
    }
    // The output queue is full: wait for room until the write time-out.
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd pfd{port_->fd, POLLOUT, 0};
    if (wait <= 0 || poll(&pfd, 1, static_cast<int>(wait)) <= 0) {
      VEXA_THROW_DETAIL_AT(Notification::ContactingDevice, "Vexa::COM::send", "the port took no data for 5 s");
    }
  }
}

}  // namespace Vexa
