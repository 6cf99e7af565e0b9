// What the soak samples of its own process (resident memory, open
// descriptors) once per interval, printed as a table row beside the run's
// counters as they stand; Linux only (/proc/self).
#ifndef VEXA_BENCH_SOAK_PROBE_H_
#define VEXA_BENCH_SOAK_PROBE_H_

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>

namespace vexa_bench {

// Resident set size in KiB, from /proc/self/statm; -1 if unreadable.
inline long residentKiB() {
  long pages = -1, resident = -1;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = -1;
    std::fclose(f);
  }
  return resident < 0 ? -1 : resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Open descriptors, not counting the one that lists them; -1 if unreadable.
inline int openDescriptors() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int n = 0;
  while (const dirent* e = readdir(dir)) {
    if (e->d_name[0] != '.') ++n;
  }
  closedir(dir);
  return n - 1;
}

class SoakTable {
 public:
  SoakTable(std::FILE* out, double intervalSeconds) : out_(out), interval_(intervalSeconds) {
    std::fprintf(out_, "%8s %10s %5s %12s %6s %8s %9s %11s %8s\n", "time s", "RSS KiB", "fds", "ticks", "lost",
                "stray", "restarts", "interrupts", "battery");
  }

  // Prints a row when the next interval has begun (the first call always).
  template <class Duration>
  void sampleIfDue(Duration sinceStart, int64_t ticks, int64_t lost, int64_t strayLost, int64_t restarts,
                   int64_t interrupts, int64_t battery) {
    const double t = std::chrono::duration<double>(sinceStart).count();
    if (rows_ > 0 && t < next_) return;
    sampleNow(sinceStart, ticks, lost, strayLost, restarts, interrupts, battery);
  }

  template <class Duration>
  void sampleNow(Duration sinceStart, int64_t ticks, int64_t lost, int64_t strayLost, int64_t restarts,
                 int64_t interrupts, int64_t battery) {
    const double t = std::chrono::duration<double>(sinceStart).count();
    const long rss = residentKiB();
    const int fds = openDescriptors();
    if (rows_++ == 0) {
      rssStart_ = rss;
      fdsStart_ = fds;
    }
    rssEnd_ = rss;
    rssMax_ = std::max(rssMax_, rss);
    fdsEnd_ = fds;
    next_ = (static_cast<int64_t>(t / interval_) + 1) * interval_;
    std::fprintf(out_, "%8.1f %10ld %5d %12lld %6lld %8lld %9lld %11lld %8lld\n", t, rss, fds,
                static_cast<long long>(ticks), static_cast<long long>(lost), static_cast<long long>(strayLost),
                static_cast<long long>(restarts), static_cast<long long>(interrupts),
                static_cast<long long>(battery));
    std::fflush(out_);
  }

  void printSummary() const {
    std::fprintf(out_, "RSS KiB: start %ld, end %ld, max %ld; fds: start %d, end %d\n", rssStart_, rssEnd_, rssMax_,
                fdsStart_, fdsEnd_);
  }
  int fdsStart() const { return fdsStart_; }
  int fdsEnd() const { return fdsEnd_; }

 private:
  std::FILE* out_;
  double interval_;
  double next_ = 0;
  int rows_ = 0;
  long rssStart_ = -1, rssEnd_ = -1, rssMax_ = -1;
  int fdsStart_ = -1, fdsEnd_ = -1;
};

}  // namespace vexa_bench

#endif  // VEXA_BENCH_SOAK_PROBE_H_
