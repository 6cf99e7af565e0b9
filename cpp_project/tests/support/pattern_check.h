// Recomputes what a simulated current-generation device streams, so that a
// test can check every tick and every sample the host received.
#ifndef VEXA_TESTS_SUPPORT_PATTERN_CHECK_H_
#define VEXA_TESTS_SUPPORT_PATTERN_CHECK_H_

#include <cstdint>
#include <string>
#include <vector>

#include "vexa/signals_dev.h"
#include "vexa_sim/sample_pattern.h"

namespace vexa_test {

// The samples the host must hold at tick t: each source's channels (in
// ascending channel number) as sampled at its last sampled tick.
inline std::vector<int> expectedSamples(const std::vector<Vexa::Source>& sources, int64_t t) {
  std::vector<int> out;
  for (size_t i = 0; i < sources.size(); ++i) {
    const Vexa::Source& s = sources[i];
    const int64_t sampledAt = t - t % s.freqDivisor;
    for (int ch = 0; ch < 16; ++ch) {
      if (s.chMask & (1 << ch)) out.push_back(vexa_sim::samplePattern(sampledAt, static_cast<int>(i), ch, s.nBits));
    }
  }
  return out;
}

// Checks ticks as they arrive: consecutive tick numbers from the first one,
// and samples equal to the pattern. Keeps counts, not copies, so it can run
// for long acquisitions.
class PatternChecker {
 public:
  explicit PatternChecker(std::vector<Vexa::Source> sources) : sources_(std::move(sources)) {}

  void check(int nSeq, const int* data, int count) {
    if (ticks_ > 0 && nSeq != last_ + 1) {
      if (nSeq > last_) lost_ += nSeq - last_ - 1;
      if (firstError_.empty()) firstError_ = "tick " + std::to_string(nSeq) + " after " + std::to_string(last_);
    }
    if (ticks_ == 0) first_ = nSeq;
    last_ = nSeq;
    ++ticks_;
    std::vector<int> expected = expectedSamples(sources_, nSeq);
    if (expected != std::vector<int>(data, data + count)) {
      ++badTicks_;
      if (firstError_.empty()) firstError_ = "samples of tick " + std::to_string(nSeq);
    }
  }

  int64_t ticks() const { return ticks_; }
  int64_t lost() const { return lost_; }
  int64_t badTicks() const { return badTicks_; }
  int firstTick() const { return first_; }
  int lastTick() const { return last_; }
  const std::string& firstError() const { return firstError_; }

 private:
  std::vector<Vexa::Source> sources_;
  int64_t ticks_ = 0;
  int64_t lost_ = 0;
  int64_t badTicks_ = 0;
  int first_ = -1;
  int last_ = -1;
  std::string firstError_;
};

}  // namespace vexa_test

#endif  // VEXA_TESTS_SUPPORT_PATTERN_CHECK_H_
