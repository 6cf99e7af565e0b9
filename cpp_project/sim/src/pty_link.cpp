#include "vexa_sim/pty_link.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <system_error>

namespace vexa_sim {
namespace {

// How long one write may wait for a client to make room before the rest of
// it is dropped: long enough for a slow reader, short enough that a port
// nobody reads does not stall the device.
constexpr std::chrono::milliseconds kWriteBudget{250};

[[noreturn]] void throwErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

void makeNonBlockingCloseOnExec(int fd) {
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) throwErrno("fcntl(F_SETFL)");
  if (fcntl(fd, F_SETFD, FD_CLOEXEC) < 0) throwErrno("fcntl(F_SETFD)");
}

int toPollTimeout(std::chrono::milliseconds timeout) {
  return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 0, INT_MAX));
}

std::string slaveName(int master) {
#ifdef __linux__
  char name[128];
  if (int err = ptsname_r(master, name, sizeof name); err != 0) {
    throw std::system_error(err, std::generic_category(), "ptsname_r");
  }
  return name;
#else
  const char* name = ptsname(master);  // not reentrant; only used here
  if (name == nullptr) throwErrno("ptsname");
  return name;
#endif
}

}  // namespace

PtyLink::PtyLink() {
  master_ = UniqueFd(posix_openpt(O_RDWR | O_NOCTTY));
  if (!master_.valid()) throwErrno("posix_openpt");
  if (grantpt(master_.get()) != 0) throwErrno("grantpt");
  if (unlockpt(master_.get()) != 0) throwErrno("unlockpt");
  devicePath_ = slaveName(master_.get());

  // Raw: bytes pass unchanged both ways, nothing is echoed or buffered in
  // lines.
  termios attrs{};
  if (tcgetattr(master_.get(), &attrs) != 0) throwErrno("tcgetattr");
  cfmakeraw(&attrs);
  if (tcsetattr(master_.get(), TCSANOW, &attrs) != 0) throwErrno("tcsetattr");
  makeNonBlockingCloseOnExec(master_.get());

  slave_ = UniqueFd(open(devicePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!slave_.valid()) throwErrno("open pty slave");

  int fds[2];
  if (pipe(fds) != 0) throwErrno("pipe");
  wakeRead_ = UniqueFd(fds[0]);
  wakeWrite_ = UniqueFd(fds[1]);
  makeNonBlockingCloseOnExec(wakeRead_.get());
  makeNonBlockingCloseOnExec(wakeWrite_.get());
}

int PtyLink::read(uint8_t* buf, int len, std::chrono::milliseconds timeout) {
  if (!master_.valid()) return -1;
  pollfd fds[2] = {{master_.get(), POLLIN, 0}, {wakeRead_.get(), POLLIN, 0}};
  int ready = poll(fds, 2, toPollTimeout(timeout));
  if (ready < 0) {
    if (errno != EINTR) idle(timeout);
    return 0;
  }
  if (fds[1].revents != 0) drainWakePipe();
  if (fds[0].revents & POLLIN) {
    ssize_t n = ::read(master_.get(), buf, static_cast<size_t>(std::max(len, 0)));
    if (n > 0) return static_cast<int>(n);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
  } else if (fds[0].revents == 0) {
    return 0;
  }
  // Hang-up or error on the master (EIO while no slave is open): it stays
  // that way, so sit out the time-out instead of polling it again at once.
  if (fds[1].revents == 0) idle(timeout);
  return 0;
}

void PtyLink::write(const uint8_t* data, size_t len) {
  auto deadline = std::chrono::steady_clock::now() + kWriteBudget;
  while (len > 0 && master_.valid()) {
    ssize_t n = ::write(master_.get(), data, len);
    if (n > 0) {
      data += n;
      len -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return;  // line down: the bytes are lost
    auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;  // nobody reads: drop the rest
    pollfd out{master_.get(), POLLOUT, 0};
    poll(&out, 1, toPollTimeout(left));
  }
}

void PtyLink::wakeReader() {
  uint8_t byte = 1;
  // A full pipe already holds a pending wake-up, so a failed write is fine.
  [[maybe_unused]] ssize_t n = ::write(wakeWrite_.get(), &byte, 1);
}

void PtyLink::hangUp() {
  master_.reset();
  slave_.reset();
}

void PtyLink::idle(std::chrono::milliseconds timeout) {
  pollfd wake{wakeRead_.get(), POLLIN, 0};
  if (poll(&wake, 1, toPollTimeout(timeout)) > 0) drainWakePipe();
}

void PtyLink::drainWakePipe() {
  uint8_t sink[64];
  while (::read(wakeRead_.get(), sink, sizeof sink) > 0) {
  }
}

}  // namespace vexa_sim
