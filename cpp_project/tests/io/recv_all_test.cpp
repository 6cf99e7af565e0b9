#include <gtest/gtest.h>

#include "support/fake_io.h"

namespace vexa_test {
namespace {

TEST(RecvAll, LengthZeroReadsNothing) {
  FakeIO io;
  io.feed({1, 2});
  Vexa::IO::recvAll(io, nullptr, 0);
  EXPECT_EQ(io.recvCalls, 0);
}

TEST(RecvAll, PutBackFirstThenTransportInPieces) {
  FakeIO io;
  io.putBack = {1, 2, 3, 4, 5};
  uint8_t buf[3];
  Vexa::IO::recvAll(io, buf, 3);
  EXPECT_EQ(Bytes(buf, buf + 3), (Bytes{1, 2, 3}));
  EXPECT_EQ(io.putBack, (std::deque<uint8_t>{4, 5}));
  EXPECT_EQ(io.recvCalls, 0);

  io.feed({6, 7, 8});
  io.maxChunk = 1;
  uint8_t more[5];
  Vexa::IO::recvAll(io, more, 5);
  EXPECT_EQ(Bytes(more, more + 5), (Bytes{4, 5, 6, 7, 8}));
  EXPECT_EQ(io.recvCalls, 3);
}

TEST(RecvAll, AnEmptyWaitFailsTheWholeRead) {
  FakeIO io;
  io.maxChunk = 2;
  io.feed({1, 2, 3, 4});
  uint8_t buf[6] = {};
  EXPECT_THROW(Vexa::IO::recvAll(io, buf, 6), Vexa::Notification::ContactingDevice);
  EXPECT_EQ(io.recvCalls, 3);
  EXPECT_EQ(Bytes(buf, buf + 4), (Bytes{1, 2, 3, 4}));
}

}  // namespace
}  // namespace vexa_test
