// addInstant runs on the acquisition loop's thread: once the recorder is
// built it must copy into its ring without allocating, lost ticks included.
#include <gtest/gtest.h>

#include <filesystem>

#include "record/read_back.h"
#include "support/alloc_count.h"
#include "vexa/recorder.h"

namespace vexa_test {
namespace {

TEST(RecorderAllocations, NoneInAddInstant) {
  const std::string path = tempPath("alloc.csv");
  Vexa::RecordingInfo info{"Cadrium", 513, "3.1", "COM1", {2024, 1, 2, 3, 4, 5}, 1000,
                           {{1, 0, 1, 12}, {2, 0, 1, 12}, {3, 0, 2, 12}}};
  Vexa::Recorder rec(path, info, 100000);
  int32_t s[3] = {0, 0, 0};
  rec.addInstant(0, s, 3);
  const long before = allocationsOnThisThread();
  int64_t tick = 0;
  for (int i = 1; i < 20000; ++i) {
    tick += i % 1000 == 0 ? 8 : 1;  // 19 jumps of 7 lost ticks
    s[i % 3] = i & 0xFFF;
    rec.addInstant(tick, s, 3);
  }
  EXPECT_EQ(allocationsOnThisThread() - before, 0);
  rec.close();
  EXPECT_EQ(rec.counters().lostTicks, 19u * 7);
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace vexa_test
