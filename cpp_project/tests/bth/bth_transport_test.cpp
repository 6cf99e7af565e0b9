// Connecting with the PIN retry, the receive time-out and the three ways of
// sending, over a scripted link.
#include <gtest/gtest.h>

#include <functional>

#include "base/x.h"
#include "bth/fake_link.h"
#include "vexa/base_dev.h"
#include "vexa/exceptions.h"
#include "vexa_sim/current_device_model.h"
#include "vexa_sim/quillbox_model.h"

namespace vexa_test {
namespace {

using Vexa::BTH;
constexpr char kPath[] = "BTH00:11:22:33:44:55";

std::shared_ptr<LinkRecord> newRecord() { return std::make_shared<LinkRecord>(); }

using Check = std::function<void(const std::function<void()>&)>;

template <class E>
Check throws() {
  return [](const std::function<void()>& open) { EXPECT_THROW(open(), E); };
}

TEST(BthConnect, PinRetryAndErrorMapping) {
  using Pins = std::vector<std::string>;
  const Check ok = [](const std::function<void()>& open) { EXPECT_NO_THROW(open()); };
  struct Case {
    std::deque<ConnectResult> results;
    Check check;
    Pins pins;
  };
  const Case cases[] = {
      {{ConnectResult::kConnected}, ok, {"580"}},
      {{ConnectResult::kPinRejected, ConnectResult::kConnected}, ok, {"580", "7093"}},
      // The second refusal is reported by its own cause.
      {{ConnectResult::kPinRejected, ConnectResult::kPinRejected}, throws<Vexa::Notification::OpeningPort>(),
       {"580", "7093"}},
      {{ConnectResult::kPinRejected, ConnectResult::kNoAnswer}, throws<Vexa::Notification::DeviceNotFound>(),
       {"580", "7093"}},
      {{ConnectResult::kAdapterDown}, throws<Vexa::Notification::AdapterNotFound>(), {"580"}},
      {{ConnectResult::kNoAnswer}, throws<Vexa::Notification::DeviceNotFound>(), {"580"}},
      {{ConnectResult::kFailed}, throws<Vexa::Notification::OpeningPort>(), {"580"}},
  };
  for (const Case& c : cases) {
    auto record = newRecord();
    record->connects = c.results;
    std::unique_ptr<BTH> kept;
    c.check([&] { kept = std::make_unique<BTH>(kPath, fakeOpener(record)); });
    EXPECT_EQ(record->pins, c.pins);
    // A failed connection leaves no socket open; a good one keeps it.
    EXPECT_EQ(record->closed, kept == nullptr);
  }
}

TEST(BthConnect, PathFormsReachTheSameDevice) {
  for (const char* path : {"BTH00:11:22:33:44:55", "bth00:11:22:33:44:55", "00:11:22:33:44:55"}) {
    auto record = newRecord();
    BTH bth(path, fakeOpener(record));
    EXPECT_EQ(record->address, 0x001122334455ULL) << path;
  }
  bool opened = false;
  auto opener = [&opened](uint64_t) {
    opened = true;
    return std::make_unique<FakeLink>(newRecord());
  };
  EXPECT_THROW(BTH("BTH00:11:22:33:44", opener), Vexa::Error::InvalidParameter);
  EXPECT_FALSE(opened);
}

TEST(BthReceive, TimeoutsAndFailures) {
  auto record = newRecord();
  BTH bth(kPath, fakeOpener(record));
  uint8_t buf[8];
  EXPECT_EQ(bth.recv(buf, 8), 0);  // never set: no limit
  for (int timeout : {-1, 0, 250, 250}) {
    bth.setRcvTimeout(timeout);
    EXPECT_EQ(bth.recv(buf, 8), 0);
  }
  EXPECT_EQ(record->waitTimeouts, (std::vector<int>{-1, -1, 0, 250, 250}));

  record->inbox = {1, 2, 3, 4, 5};
  EXPECT_EQ(bth.recv(buf, 3), 3);
  EXPECT_EQ(bth.recv(buf, 8), 2);
  EXPECT_EQ(buf[1], 5);

  record->waits = {WaitResult::kFailed};
  EXPECT_THROW(bth.recv(buf, 8), Vexa::Notification::ContactingDevice);
  for (int result : {0, -1}) {  // closed by the device; a socket error
    record->waits = {WaitResult::kReadable};
    record->receives = {result};
    EXPECT_THROW(bth.recv(buf, 8), Vexa::Notification::ContactingDevice) << result;
  }
  EXPECT_THROW(bth.recv(nullptr, 8), Vexa::Error::InvalidParameter);
  EXPECT_EQ(bth.recv(buf, 0), 0);
}

TEST(BthSend, PlainSendsFinishPartialWritesAndReportFailures) {
  auto record = newRecord();
  BTH bth(kPath, fakeOpener(record));
  const uint8_t data[7] = {1, 2, 3, 4, 5, 6, 7};
  bth.send(data, 7);
  EXPECT_EQ(record->transmitSizes, std::vector<int>{7});

  // A socket that takes part of the buffer gets the rest next.
  record->transmitSizes.clear();
  record->transmits = {3};
  bth.send(data, 7);
  EXPECT_EQ(record->transmitSizes, (std::vector<int>{3, 4}));
  EXPECT_TRUE(record->pauses.empty());

  for (int failure : {0, -1}) {
    record->transmits = {failure};
    testing::internal::CaptureStdout();
    EXPECT_THROW(bth.send(data, 7), Vexa::Notification::ContactingDevice);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[BTHWIN] ERROR in write");
  }
}

// Connects a device object whose handshake records the family.
struct Connected {
  explicit Connected(std::unique_ptr<vexa_sim::DeviceModel> model) : record(newRecord()) {
    record->device = std::move(model);
    dev = std::make_unique<OpenDev>(kPath, std::make_unique<BTH>(kPath, fakeOpener(record)));
    record->transmitSizes.clear();
    record->pauses.clear();
  }
  struct OpenDev : Vexa::BaseDev {
    using BaseDev::BaseDev;
    using BaseDev::impl;
  };
  Vexa::IO& io() { return *dev->impl()->io; }

  std::shared_ptr<LinkRecord> record;
  std::unique_ptr<OpenDev> dev;
};

TEST(BthSend, FamilyTwoTakesTwoBytesAtATime) {
  vexa_sim::CurrentDeviceConfig config;
  config.productId = 0x020A;
  Connected c(std::make_unique<vexa_sim::CurrentDeviceModel>(config));
  const uint8_t data[5] = {1, 2, 3, 4, 5};
  c.io().send(data, 5);
  EXPECT_EQ(c.record->transmitSizes, (std::vector<int>{2, 2, 1}));
  EXPECT_EQ(c.record->pauses, (std::vector<int>{5, 5, 5}));
  c.io().send(data, 0);
  EXPECT_EQ(c.record->transmitSizes.size(), 3u);
  // Pieces of a partial write still arrive whole.
  c.record->transmitSizes.clear();
  c.record->transmits = {1};
  c.io().send(data, 2);
  EXPECT_EQ(c.record->transmitSizes, (std::vector<int>{1, 1}));
  c.record->transmits = {-1};
  EXPECT_THROW(c.io().send(data, 2), Vexa::Notification::ContactingDevice);
  // The device reassembles the pieces: a command still gets its answer.
  c.record->transmitSizes.clear();
  EXPECT_NO_THROW(c.dev->getBattery());
  EXPECT_EQ(c.record->transmitSizes, (std::vector<int>{2, 2, 1}));
  const auto& model = dynamic_cast<vexa_sim::CurrentDeviceModel&>(*c.record->device);
  EXPECT_EQ(model.receivedCommands().back(), (std::vector<uint8_t>{0x04, 0x00}));
}

TEST(BthSend, CompactBoardsGetAPauseBeforeEachWrite) {
  Connected c(std::make_unique<vexa_sim::QuillboxModel>());
  const uint8_t data[3] = {0x0B, 0, 0};
  c.io().send(data, 3);
  EXPECT_EQ(c.record->pauses, std::vector<int>{200});
  EXPECT_EQ(c.record->transmitSizes, std::vector<int>{3});
}

}  // namespace
}  // namespace vexa_test
