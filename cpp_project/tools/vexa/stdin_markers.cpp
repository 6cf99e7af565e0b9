#include "stdin_markers.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <utility>

#include "vexa/host_clock.h"

namespace vexa_cli {

StdinMarkers::StdinMarkers(std::vector<Vexa::Recorder*> recorders) : recorders_(std::move(recorders)) {
  if (pipe2(wake_, O_CLOEXEC) != 0) return;  // no markers then; the recording goes on
  // Run in the background of a shell, reading the terminal would stop the
  // whole process; ignored, the read fails instead and only markers end.
  signal(SIGTTIN, SIG_IGN);
  reader_ = std::thread([this] { run(); });
}

StdinMarkers::~StdinMarkers() {
  if (reader_.joinable()) {
    const char stop = 0;
    while (write(wake_[1], &stop, 1) < 0 && errno == EINTR) {
    }
    reader_.join();
  }
  for (int fd : wake_) {
    if (fd >= 0) close(fd);
  }
}

void StdinMarkers::run() {
  std::string line;
  bool stopping = false;
  for (;;) {
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    // Once told to stop, only what is already there is read.
    const int ready = poll(fds, stopping ? 1 : 2, stopping ? 0 : -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || (fds[0].revents & POLLNVAL)) break;
    if (!stopping && fds[1].revents != 0) {
      stopping = true;
      continue;
    }
    char buf[4096];
    const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the end of standard input, or it cannot be read
    line.append(buf, static_cast<size_t>(n));
    for (size_t end; (end = line.find('\n')) != std::string::npos; line.erase(0, end + 1)) take(line.substr(0, end));
  }
  take(line);  // a last line without its line feed
}

void StdinMarkers::take(const std::string& line) {
  if (line.find_first_not_of(" \t\r") == std::string::npos) return;
  std::string text = line;
  if (text.back() == '\r') text.pop_back();
  // Placed at the instant sampled when the line came in, not at the one
  // the loop happens to be on, which the link's delay holds back.
  const double now = Vexa::hostTime();
  for (Vexa::Recorder* recorder : recorders_) {
    if (!recorder->addMarkerAt(text, now)) {
      std::cerr << "vexa record: too many markers waiting; not recorded: " << text << "\n";
    }
  }
}

}  // namespace vexa_cli
