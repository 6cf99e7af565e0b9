// Bluetooth classic above the thin platform layer, over a scripted radio
// and RFCOMM link: connection paths, the search's names, filter and order,
// connecting with the PIN retry, the receive time-out and the three ways of
// sending.
#include "io/bth/bth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <typeinfo>
#include <vector>

#include "base/x.h"
#include "io/bth/bth_address.h"
#include "io/bth/bth_platform.h"
#include "io/bth/bth_search.h"
#include "support/recording_dev.h"
#include "vexa/cancel.h"
#include "vexa/exceptions.h"
#include "vexa/log.h"
#include "vexa_sim/current_device_model.h"
#include "vexa_sim/quillbox_model.h"

namespace Vexa {
namespace bth {
namespace {

constexpr char kPath[] = "BTH00:11:22:33:44:55";

TEST(BthAddress, ParsesTheAcceptedFormsOnlyAndFormatsMostSignificantFirst) {
  for (const char* path : {"BTH0A:1B:2C:3D:4E:5F", "bth0a:1b:2c:3d:4e:5f", "Bth0A:1b:2C:3d:4E:5f", "0A:1B:2C:3D:4E:5F",
                           "BTH(0A:1B:2C:3D:4E:5F)", "(0a:1b:2c:3d:4e:5f)"})
    EXPECT_EQ(parseAddress(path), 0x0A1B2C3D4E5FULL) << path;
  for (const char* path :
       {"", "BTH", "BTH0A:1B:2C:3D:4E", "BTH0A:1B:2C:3D:4E:5F:", "BTH0A-1B-2C-3D-4E-5F", "BTH0A:1B:2C:3D:4E:5G",
        "BTH 0A:1B:2C:3D:4E:5F", "BTH0A:1B:2C:3D:4E:5F ", "BTH0A:1B:2C:3D:4E5F:", "BTH(0A:1B:2C:3D:4E:5F",
        "BTHBTH0A:1B:2C:3D:4E:5F", "0A1B2C3D4E5F", "BTH0A:1B:2C:3D:4E:+5"})
    EXPECT_EQ(parseAddress(path), std::nullopt) << path;
  EXPECT_EQ(parseAddress(std::string("BTH0A:1B:2C:3D:4E:5F\0", 21)), std::nullopt);
  EXPECT_EQ(formatPath(0x0A1B2C3D4E5FULL), "BTH0A:1B:2C:3D:4E:5F");
  for (uint64_t address : {0ULL, 0xABCDEF012345ULL, 0xFFFFFFFFFFFFULL})
    EXPECT_EQ(parseAddress(formatPath(address)), address);
}

using Name = std::optional<std::string>;

// The next entry of a script, or otherwise once it has run out.
template <class T>
T next(std::deque<T>& script, T otherwise) {
  if (script.empty()) return otherwise;
  T value = script.front();
  script.pop_front();
  return value;
}

class FakeRadio : public Radio {
 public:
  void inquire(SearchState& state) override {
    for (const auto& [address, name] : inRange) state.onInRange(address, name ? &*name : nullptr);
  }
  // Scripted answers per address; once they run out the radio still does
  // not know the name.
  std::optional<std::string> queryName(uint64_t address) override {
    queried.push_back(address);
    return next(answers[address], Name(""));
  }
  void pause(std::chrono::milliseconds time) override { pauses.push_back(static_cast<int>(time.count())); }

  std::vector<std::pair<uint64_t, Name>> inRange;
  std::map<uint64_t, std::deque<Name>> answers;
  std::vector<uint64_t> queried;
  std::vector<int> pauses;
};

using vexa_test::listing;
using vexa_test::locationFunction;
using vexa_test::thrownAs;
using vexa_test::thrownType;
using vexa_test::typeName;

TEST(BthSearch, StartsEmptyMergesNotificationsAndOrdersByAddress) {
  SearchState state;  // what an earlier search left
  state.foundNames[0x99] = "Vexa stale";
  state.nameless.insert(0x98);
  FakeRadio radio;
  // 0x10 is named later in the same inquiry, the later name of 0x30 wins,
  // 0x05 is asked for its name afterwards and tells it at the 200th and
  // last try, 0x01 never does, the query for 0x02 fails (no retry); family
  // names count in any case, anywhere in the name.
  radio.inRange = {{0x30, Name("Vexa C")},   {0x10, std::nullopt},              {0x20, Name("Headset vex a")},
                   {0x10, Name("my vExA")}, {0x30, Name("Vexa C renamed")}, {0x05, std::nullopt},
                   {0x05, std::nullopt},    {0x01, std::nullopt},           {0x02, std::nullopt}};
  radio.answers[0x02] = {std::nullopt};
  radio.answers[0x05] = std::deque<Name>(199, Name(""));
  radio.answers[0x05].push_back(Name("new qUILLBOX"));
  EXPECT_EQ(listing(searchOn(radio, state)),
            (std::vector<std::string>{"BTH00:00:00:00:00:05=new qUILLBOX", "BTH00:00:00:00:00:10=my vExA",
                                      "BTH00:00:00:00:00:30=Vexa C renamed"}));
  // Only the devices that never brought their names along were asked, with
  // a pause between two tries of one device.
  std::map<uint64_t, int> asked;
  for (uint64_t address : radio.queried) ++asked[address];
  EXPECT_EQ(asked, (std::map<uint64_t, int>{{0x01, 200}, {0x02, 1}, {0x05, 200}}));
  EXPECT_EQ(radio.pauses, std::vector<int>(199 + 199, 50));
}

TEST(BthSearch, OneSearchAtATime) {
  std::lock_guard<std::mutex> running(processSearchState().busy);
  // Refused before the radio is reached, which would fail otherwise here.
  EXPECT_EQ(thrownAs<Vexa::Exception>([] { BTH::findDevices(); },
                                      [](const auto& e) { return typeid(e).name() + locationFunction(e); }),
            typeName<Vexa::Exception>() + "(Vexa::BTH::findDevices)");
}

// What the transport did to its link, kept beyond the link's life.
struct LinkRecord {
  // Scripts: one entry per call; when they run out, the defaults apply
  // (connected; readable when the device has bytes, else timed out; all
  // bytes taken).
  std::deque<ConnectResult> connects;
  std::deque<WaitResult> waits;
  std::deque<int> receives;   // a result to return instead of reading
  std::deque<int> transmits;  // at most this many bytes taken; <= 0 fails

  uint64_t address = 0;
  std::vector<std::string> pins;
  std::vector<int> waitTimeouts;
  std::vector<int> transmitSizes;
  std::vector<int> pauses;
  bool closed = false;
  std::string lastError;  // the system's cause of a failed call
  std::deque<uint8_t> inbox;
  std::unique_ptr<vexa_sim::DeviceModel> device;  // answers what is sent
};

class FakeLink : public Vexa::bth::Link {
 public:
  explicit FakeLink(std::shared_ptr<LinkRecord> record) : r_(std::move(record)) {}
  ~FakeLink() override { r_->closed = true; }

  ConnectResult connect(const std::string& pin) override {
    r_->pins.push_back(pin);
    return next(r_->connects, ConnectResult::kConnected);
  }
  WaitResult waitReadable(int timeoutMs) override {
    r_->waitTimeouts.push_back(timeoutMs);
    return next(r_->waits, r_->inbox.empty() ? WaitResult::kTimedOut : WaitResult::kReadable);
  }
  int receive(uint8_t* buf, int len) override {
    if (!r_->receives.empty()) return next(r_->receives, 0);
    const int n = std::min(len, static_cast<int>(r_->inbox.size()));
    std::copy_n(r_->inbox.begin(), n, buf);
    r_->inbox.erase(r_->inbox.begin(), r_->inbox.begin() + n);
    return n;
  }
  int transmit(const uint8_t* buf, int len) override {
    const int taken = std::min(len, next(r_->transmits, len));
    r_->transmitSizes.push_back(taken);
    if (taken > 0 && r_->device) {
      r_->device->onHostBytes(buf, static_cast<size_t>(taken), vexa_sim::DeviceModel::Clock::now());
      const std::vector<uint8_t> out = r_->device->takeOutput();
      r_->inbox.insert(r_->inbox.end(), out.begin(), out.end());
    }
    return taken;
  }
  void pause(std::chrono::milliseconds time) override { r_->pauses.push_back(static_cast<int>(time.count())); }
  std::string lastError() const override { return r_->lastError; }

 private:
  std::shared_ptr<LinkRecord> r_;
};

// Opens FakeLinks that all report to one record.
struct Opened {
  BTH::LinkOpener opener() {
    return [r = record](uint64_t address) {
      r->address = address;
      return std::make_unique<FakeLink>(r);
    };
  }
  std::shared_ptr<LinkRecord> record = std::make_shared<LinkRecord>();
};

TEST(BthConnect, PinRetryAndErrorMapping) {
  // Each result scripted is the answer to one try, the first PIN first.
  const std::vector<std::string> pins = {"580", "7093"};
  const std::string none = "nothing", opening = typeName<Vexa::Notification::OpeningPort>(),
                    notFound = typeName<Vexa::Notification::DeviceNotFound>();
  const std::pair<std::deque<ConnectResult>, std::string> cases[] = {
      {{ConnectResult::kConnected}, none},
      {{ConnectResult::kPinRejected, ConnectResult::kConnected}, none},
      // The second refusal is reported by its own cause.
      {{ConnectResult::kPinRejected, ConnectResult::kPinRejected}, opening},
      {{ConnectResult::kPinRejected, ConnectResult::kNoAnswer}, notFound},
      {{ConnectResult::kAdapterDown}, typeName<Vexa::Notification::AdapterNotFound>()},
      {{ConnectResult::kNoAnswer}, notFound},
      {{ConnectResult::kFailed}, opening},
  };
  for (const auto& [results, failure] : cases) {
    Opened link;
    link.record->connects = results;
    std::unique_ptr<BTH> kept;
    EXPECT_EQ(thrownType([&] { kept = std::make_unique<BTH>("bth00:11:22:33:44:55", link.opener()); }), failure);
    EXPECT_EQ(link.record->address, 0x001122334455ULL);
    EXPECT_EQ(link.record->pins, std::vector<std::string>(pins.begin(), pins.begin() + results.size()));
    // A failed connection leaves no socket open; a good one keeps it.
    EXPECT_EQ(link.record->closed, kept == nullptr);
  }
  Opened never;
  EXPECT_THROW(BTH("BTH00:11:22:33:44", never.opener()), Vexa::Error::InvalidParameter);
  EXPECT_TRUE(never.record->pins.empty()) << "a bad path was opened";
}

TEST(BthConnect, ADeviceOpenAlreadyIsRefusedUntilItsLinkCloses) {
  Opened first, second;
  {
    BTH open("bth0a:1b:2c:3d:4e:5f", first.opener());
    EXPECT_EQ(thrownType([&] { BTH("(0A:1B:2C:3D:4E:5F)", second.opener()); }),
              typeName<Vexa::Notification::LinkInUse>());
    EXPECT_TRUE(second.record->pins.empty()) << "the second link was connected";
  }
  EXPECT_EQ(thrownType([&] { BTH("(0A:1B:2C:3D:4E:5F)", second.opener()); }), "nothing");
}

TEST(BthReceive, TimeoutsAndFailures) {
  Opened link;
  BTH bth(kPath, link.opener());
  LinkRecord& record = *link.record;
  uint8_t buf[8];
  EXPECT_EQ(bth.recv(buf, 8), 0);  // never set: no limit
  for (int timeout : {-1, 0, 250}) {
    bth.setRcvTimeout(timeout);
    EXPECT_EQ(bth.recv(buf, 8), 0);
  }
  EXPECT_EQ(record.waitTimeouts, (std::vector<int>{-1, -1, 0, 250}));

  record.inbox = {1, 2, 3, 4, 5};
  EXPECT_EQ(bth.recv(buf, 3), 3);
  EXPECT_EQ(bth.recv(buf, 8), 2);
  EXPECT_EQ(buf[1], 5);

  record.waits = {WaitResult::kFailed};
  EXPECT_THROW(bth.recv(buf, 8), Vexa::Notification::ContactingDevice);
  for (int result : {0, -1}) {  // closed by the device; a socket error
    record.waits = {WaitResult::kReadable};
    record.receives = {result};
    EXPECT_THROW(bth.recv(buf, 8), Vexa::Notification::ContactingDevice) << result;
  }
  EXPECT_THROW(bth.recv(nullptr, 8), Vexa::Error::InvalidParameter);
  EXPECT_EQ(bth.recv(buf, 0), 0);
}

// Inside a cancellable call a wait without limit goes in slices until data
// comes; a raised flag ends the receive, and the search before it asks a
// nameless device for its name.
TEST(BthReceive, ACancellableCallWaitsInSlicesAndEndsOnACancel) {
  Opened link;
  BTH bth(kPath, link.opener());
  LinkRecord& record = *link.record;
  Vexa::CancelFlag flag;
  const Vexa::CancelScope scope(flag);
  bth.setRcvTimeout(-1);
  record.waits = {WaitResult::kTimedOut, WaitResult::kTimedOut};
  record.inbox = {0x5A};
  uint8_t buf[4];
  EXPECT_EQ(bth.recv(buf, 4), 1);
  EXPECT_EQ(record.waitTimeouts, std::vector<int>(3, Vexa::kCancelSliceMs));
  flag.raise();
  EXPECT_THROW(bth.recv(buf, 4), Vexa::Error::Cancelled);
  FakeRadio radio;
  radio.inRange = {{0x07, std::nullopt}};
  SearchState state;
  EXPECT_THROW(searchOn(radio, state), Vexa::Error::Cancelled);
  EXPECT_TRUE(radio.queried.empty());
}

TEST(BthSend, PlainSendsFinishPartialWritesAndReportFailures) {
  Opened link;
  BTH bth(kPath, link.opener());
  const uint8_t data[7] = {1, 2, 3, 4, 5, 6, 7};
  // A socket that takes part of the buffer gets the rest next.
  link.record->transmits = {3};
  bth.send(data, 7);
  EXPECT_EQ(link.record->transmitSizes, (std::vector<int>{3, 4}));
  EXPECT_TRUE(link.record->pauses.empty());
  // A failed write keeps the socket's cause and traces it in the debug log.
  static std::vector<std::string> logged;
  Vexa::setLogHandler([](Vexa::LogLevel, const char* line) { logged.push_back(line); }, Vexa::LogLevel::kWarning);
  link.record->lastError = "send: Broken pipe (errno 32)";
  for (int failure : {0, -1}) {
    link.record->transmits = {failure};
    EXPECT_EQ(thrownAs<Vexa::Notification::ContactingDevice>([&] { bth.send(data, 7); },
                                                           [](const auto& e) { return e.detail(); }),
              link.record->lastError);
  }
  Vexa::setLogHandler(nullptr, Vexa::LogLevel::kOff);
  const std::string trace = "[BTHWIN] ERROR in write: send: Broken pipe (errno 32)";
  EXPECT_EQ(logged, (std::vector<std::string>{trace, trace}));
}

// A device object connected over a FakeLink to a device model, so that the
// handshake sets the family.
struct Connected : Opened {
  explicit Connected(std::unique_ptr<vexa_sim::DeviceModel> model) {
    record->device = std::move(model);
    dev = std::make_unique<vexa_test::RecordingDev>(kPath, std::make_unique<BTH>(kPath, opener()));
    record->transmitSizes.clear();
    record->pauses.clear();
  }
  Vexa::IO& io() { return *dev->impl()->io; }

  std::unique_ptr<vexa_test::RecordingDev> dev;
};

// Family 2 is written two bytes at a time, a compact board after a pause.
TEST(BthSend, FamilyTwoInPairsAndCompactBoardsAfterAPause) {
  const uint8_t data[5] = {0x0B, 0x3C, 0xA5, 0x7E, 0x91};
  {  // one link to the address at a time
    Connected board(std::make_unique<vexa_sim::QuillboxModel>());
    board.io().send(data, 1);
    EXPECT_EQ(board.record->pauses, std::vector<int>{200});
    EXPECT_EQ(board.record->transmitSizes, std::vector<int>{1});
  }
  vexa_sim::CurrentDeviceConfig config;
  config.productId = 0x020A;
  Connected c(std::make_unique<vexa_sim::CurrentDeviceModel>(config));
  c.io().send(data, 5);
  EXPECT_EQ(c.record->transmitSizes, (std::vector<int>{2, 2, 1}));
  EXPECT_EQ(c.record->pauses, (std::vector<int>{5, 5, 5}));
  // Pieces of a partial write still arrive whole.
  c.record->transmitSizes.clear();
  c.record->transmits = {1};
  c.io().send(data, 2);
  EXPECT_EQ(c.record->transmitSizes, (std::vector<int>{1, 1}));
  c.record->transmits = {-1};
  EXPECT_THROW(c.io().send(data, 2), Vexa::Notification::ContactingDevice);
  // The device reassembles the pieces: a command still gets its answer.
  EXPECT_NO_THROW(c.dev->getBattery());
  const auto& model = dynamic_cast<vexa_sim::CurrentDeviceModel&>(*c.record->device);
  EXPECT_EQ(model.receivedCommands().back(), (std::vector<uint8_t>{0x04, 0x00}));
}

}  // namespace
}  // namespace bth
}  // namespace Vexa
