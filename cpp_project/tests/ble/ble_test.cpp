// The BLE transport. Without the simulated dongle: finding the dongle's
// port, reading paths, what read_ble makes of each message from a raw
// pseudo-terminal peer, and what ends the waits and when. Through the
// simulated dongle: searching, connecting and each way a connection can
// fail, writes cut to 20 bytes and one value per receive, and whole
// acquisitions of a current device.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "io/ble/bgapi.h"
#include "io/ble/ble.h"
#include "io/ble/ble_timings.h"
#include "io/ble/com_ble.h"
#include "io/ble/dongle_ports.h"
#include "io/com.h"
#include "support/eventually.h"
#include "support/messages.h"
#include "support/recording_dev.h"
#include "vexa/exceptions.h"
#include "vexa_sim/current_device_model.h"
#include "vexa_sim/dongle_model.h"
#include "vexa_sim/pty_link.h"
#include "vexa_sim/pty_simulator.h"

namespace vexa_test {
namespace {

using Bytes = std::vector<uint8_t>;

// Offers the given ports as the only dongle candidates while it lives.
class DonglePorts {
 public:
  explicit DonglePorts(std::vector<std::string> ports)
      : DonglePorts(Vexa::DonglePortLister([ports] { return ports; })) {}
  explicit DonglePorts(Vexa::DonglePortLister lister) : previous_(Vexa::setDonglePortLister(std::move(lister))) {}
  ~DonglePorts() { Vexa::setDonglePortLister(std::move(previous_)); }
  DonglePorts(const DonglePorts&) = delete;
  DonglePorts& operator=(const DonglePorts&) = delete;

 private:
  Vexa::DonglePortLister previous_;
};

// Waits short enough for tests; a generous serial read so that a loaded
// machine does not look like a silent dongle.
inline Vexa::BleTimings fastTimings() {
  Vexa::BleTimings t;
  t.restartPauseMs = 50;
  t.linkTimeoutMs = 500;
  t.responseMs = t.procedureMs = t.connectMs = t.searchReplyMs = 2000;
  t.scanMs = 300;
  return t;
}

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr int kLimitMs = 300;
constexpr int kReadMs = 100;

// One BGAPI message: type (0 response, 0x80 event), length, class, id.
Bytes message(uint8_t type, uint8_t cls, uint8_t id, const Bytes& payload) {
  return Bytes{type, static_cast<uint8_t>(payload.size()), cls, id} + payload;
}
Bytes response(uint8_t cls, uint8_t id, const Bytes& payload) { return message(0x00, cls, id, payload); }
Bytes event(uint8_t cls, uint8_t id, const Bytes& payload) { return message(0x80, cls, id, payload); }

TEST(FriendlyName, SplitsDescriptionAndPort) {
  const std::pair<const char*, const char*> cases[] = {
      {"Bluegiga Bluetooth Low Energy (COM7)", "Bluegiga Bluetooth Low Energy|COM7"},
      {"  Bluegiga Bluetooth Low Energy  ( COM12 ) tail", "Bluegiga Bluetooth Low Energy|COM12"},
      {"USB Serial Port (COM3", "USB Serial Port|COM3"},
      {"(COM4)", "|COM4"},
      {"Communications Port", "not split"},
  };
  for (const auto& [name, split] : cases) {
    const std::optional<Vexa::PortFriendlyName> got = Vexa::splitFriendlyName(name);
    EXPECT_EQ(got ? got->description + "|" + got->port : "not split", split) << name;
  }
}

TEST(UsbTtyPorts, KeepsTheDonglesIdentityInNameOrder) {
  // A sysfs-like tree: class/tty/<name>/device links to a device directory
  // some levels below the USB device that holds idVendor and idProduct.
  char pattern[] = "/tmp/vexa-sysfs-XXXXXX";
  const fs::path root = mkdtemp(pattern);
  auto addTty = [&root](const std::string& name, const char* vendor, const char* product, int usbLevelsUp) {
    const fs::path usb = root / "devices" / name / "usb";
    fs::path device = usb;
    for (int i = 0; i < usbLevelsUp; ++i) device /= "level" + std::to_string(i);
    fs::create_directories(device);
    if (vendor) std::ofstream(usb / "idVendor") << vendor << "\n";
    if (product) std::ofstream(usb / "idProduct") << product << "\n";
    fs::create_directories(root / "class/tty" / name);
    fs::create_directory_symlink(device, root / "class/tty" / name / "device");
  };
  addTty("ttyACM1", "2458", "0001", 1);
  addTty("ttyACM0", "2458", "0001", 1);
  addTty("ttyUSB1", "2458", "0001", 2);  // behind a USB-serial port
  addTty("ttyUSB0", "0403", "6001", 2);  // another vendor's adapter
  addTty("ttyACM2", "2458", "0002", 1);  // the vendor's other product
  addTty("ttyACM3", "2458", nullptr, 1);
  fs::create_directories(root / "class/tty/tty0");  // virtual: no device
  EXPECT_EQ(Vexa::usbTtyPorts((root / "class/tty").string(), 0x2458, 0x0001),
            (std::vector<std::string>{"COM/dev/ttyACM0", "COM/dev/ttyACM1", "COM/dev/ttyUSB1"}));
  EXPECT_TRUE(Vexa::usbTtyPorts("/nonexistent/class/tty", 0x2458, 0x0001).empty());
  fs::remove_all(root);
}

TEST(FindDongle, TakesTheFirstFreePortElseSaysWhy) {
  vexa_sim::PtyLink dongle;
  {
    DonglePorts ports({"COM/dev/vexa-no-such-port", dongle.comPath()});
    EXPECT_EQ(Vexa::COM_BLE::find_ble_dongle(0).port, dongle.comPath());
  }
  const std::string missing = typeName<Vexa::Notification::AdapterNotFound>();
  Vexa::COM holder(dongle.comPath());  // open in this process
  const std::pair<Vexa::DonglePortLister, std::string> cases[] = {
      {[] { return std::vector<std::string>{}; }, missing},
      {[&dongle] { return std::vector<std::string>{dongle.comPath()}; }, typeName<Vexa::Notification::LinkInUse>()},
      {[]() -> std::vector<std::string> { throw std::runtime_error("no list"); }, missing},
  };
  for (const auto& [lister, failure] : cases) {
    DonglePorts ports(lister);
    EXPECT_EQ(thrownType([] { Vexa::COM_BLE link(fastTimings()); }), failure);
  }
}

TEST(BlePath, TheAddressWithOrWithoutPrefixInAnyCaseAndNothingElse) {
  for (const char* path :
       {"BLE00:97:A0:4C:F9:01", "00:97:a0:4c:f9:01", "ble0:97:A0:4C:F9:1", "Ble 0x00: 97:A0:4C:F9:101"}) {
    Vexa::bgapi::Address address{};
    EXPECT_TRUE(Vexa::bgapi::parsePath(path, address)) << path;
    EXPECT_EQ(Vexa::bgapi::pathOf(address), "BLE00:97:A0:4C:F9:01") << path;
  }
  for (const char* path :
       {"BLE00:07:80:4C:1E:01x", "BLE00:07:80:4C:1E:01 ", "BLE00:07:80:4C:1E", "BLE00:07:80:4C:1E:01:02", "", "BLE",
        "BLE00-07-80-4C-1E-01", "BLE00:07:80:4C:1E:0g", "BLE00:07:80::1E:01", "BLE-1:07:80:4C:1E:01"}) {
    Vexa::bgapi::Address address{};
    EXPECT_FALSE(Vexa::bgapi::parsePath(path, address)) << path;
  }
  // A connection to a bad path is refused before the dongle is looked for.
  DonglePorts ports([]() -> std::vector<std::string> { throw std::logic_error("the dongle was looked for"); });
  EXPECT_THROW(Vexa::BLE("BLE00:07:80:4C:1E", fastTimings()), Vexa::Error::InvalidParameter);
}

long long msSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The dongle link on a port whose bytes can be scripted instead, in
// chunks. An empty chunk is a pause on the line longer than a poll and
// shorter than one read of the link's own time-out: a read with a time-out
// below it gets nothing, a longer one waits it out.
constexpr int kPauseMs = kReadMs / 2;
class ScriptedLink : public Vexa::COM_BLE {
 public:
  using COM_BLE::COM_BLE;
  int doRecv(void* buf, int len) override {
    if (!chunks.empty() && chunks.front().empty()) {
      chunks.pop_front();
      if (rcvTimeout > 0 && rcvTimeout < kPauseMs) return 0;
    }
    if (chunks.empty()) return COM::doRecv(buf, len);
    Bytes& chunk = chunks.front();
    const int n = std::min(len, static_cast<int>(chunk.size()));
    std::copy_n(chunk.begin(), n, static_cast<uint8_t*>(buf));
    chunk.erase(chunk.begin(), chunk.begin() + n);
    if (chunk.empty()) chunks.pop_front();
    return n;
  }
  std::deque<Bytes> chunks;
};

class BleLink : public ::testing::Test {
 protected:
  static Vexa::BleTimings timings() {
    Vexa::BleTimings t = fastTimings();
    t.linkTimeoutMs = kReadMs;
    t.responseMs = t.procedureMs = t.connectMs = kLimitMs;
    return t;
  }
  void say(const Bytes& bytes) { peer.write(bytes.data(), bytes.size()); }
  int read(const Bytes& bytes, uint8_t* buf = nullptr, int len = 0) {
    say(bytes);
    return link.read_ble(buf, len);
  }
  // What read_ble gives into a buffer of len bytes, checking that nothing
  // was written past it.
  std::string readInto(const Bytes& bytes, int len) {
    uint8_t buf[64];
    std::memset(buf, 0xEE, sizeof buf);
    const int got = read(bytes, buf, len);
    if (got < 0 || got > len) return "gave " + std::to_string(got);
    if (std::any_of(buf + got, buf + 64, [](uint8_t b) { return b != 0xEE; }))
      return "wrote past " + std::to_string(got);
    return std::string(buf, buf + got);
  }
  vexa_sim::PtyLink peer;
  DonglePorts ports{std::vector<std::string>{peer.comPath()}};
  ScriptedLink link{timings()};
};

const Bytes kValueAbc = event(4, 5, {0x00, 0x09, 0x00, 0x01, 0x03, 'a', 'b', 'c'});
const Bytes kCompleted = event(4, 1, {0x00, 0x00, 0x00, 0x06, 0x00});

TEST_F(BleLink, ResponsesGiveTheirResultCode) {
  const std::pair<Bytes, int> cases[] = {
      {response(3, 0, {0x00, 0x34, 0x12}), 0x1234},               // disconnect
      {response(4, 3, {0x00, 0x81, 0x01}), 0x0181},               // find information
      {response(4, 5, {0x00, 0x05, 0x00}), 5},                    // attribute write
      {response(6, 2, {0x81, 0x01}), 0x0181},                     // discover
      {response(6, 5, {0x00, 0x00}), -1},                         // not one of them
      {response(4, 5, {0x00}), -1},                               // too short for a result
      {message(0x20, 6, 4, {0x00, 0x00}), -1},                    // neither type byte
      {event(0, 0, {1, 0, 3, 0, 1, 0, 120, 0, 2, 0, 1, 1}), -1},  // boot event
  };
  for (const auto& [bytes, result] : cases) EXPECT_EQ(read(bytes), result) << ::testing::PrintToString(bytes);
}

// Only the data characteristic's UUID names the data handle (the rest of
// the handles show in the connection sequence).
TEST_F(BleLink, AnotherCharacteristicIsNotTakenForTheData) {
  const Vexa::bgapi::Uuid& data = Vexa::bgapi::kDataCharUuid;
  const Vexa::bgapi::Uuid& other = Vexa::bgapi::kServiceUuid;
  EXPECT_EQ(read(event(4, 4, Bytes{0x07, 0x09, 0x00, 0x10} + Bytes(data.begin(), data.end()))), 0);
  EXPECT_EQ(read(event(4, 4, Bytes{0x07, 0x0C, 0x00, 0x10} + Bytes(other.begin(), other.end()))), 0);
  EXPECT_EQ(link.handles().dataValue, 9);
}

TEST_F(BleLink, AttributeValueGivesWhatFitsAndDropsTheRest) {
  const std::string alphabet = "abcdefghijklmnopqrst";
  // The length announced, the bytes present, the buffer's size, what it gets.
  const std::tuple<uint8_t, size_t, int, size_t> cases[] = {
      {20, 20, 4, 4}, {20, 20, 0, 0}, {20, 20, 50, 20}, {30, 10, 50, 10}, {0, 0, 50, 0}};
  for (const auto& [lengthByte, present, bufLen, got] : cases) {
    const Bytes value(alphabet.begin(), alphabet.begin() + static_cast<std::ptrdiff_t>(present));
    EXPECT_EQ(readInto(event(4, 5, Bytes{0x00, 0x09, 0x00, 0x01, lengthByte} + value), bufLen), alphabet.substr(0, got))
        << int{lengthByte} << "/" << bufLen;
  }
}

TEST_F(BleLink, ScanResponseIsARecordOnlyWhenItFitsWhole) {
  // From 00:07:80:4C:1E:01, with the given packet type and data.
  auto scan = [](uint8_t type, uint8_t length, const Bytes& data) {
    return event(6, 0, Bytes{0xC4, type, 0x01, 0x1E, 0x4C, 0x80, 0x07, 0x00, 0x00, 0xFF, length} + data);
  };
  const Bytes named = {0x0A, 0x09, 'V', 'e', 'x', 'a', '-', '0', '0', '4', '2'};
  for (int len : {0, 1, 9, 20, 28, 29, 50})
    EXPECT_EQ(readInto(scan(4, 11, named), len), len < 29 ? "" : "BLE00:07:80:4C:1E:01Vexa-0042") << len;
  // A length beyond the data (advertisements and nameless responses are in
  // the search's table).
  EXPECT_EQ(readInto(scan(4, 40, named), 50), "");
}

TEST_F(BleLink, OnlyAResponseWithResultZeroEndsAWaitForOne) {
  // An attribute value and a group-found event also give 0 to the reader;
  // a refusal is never accepted.
  say(kValueAbc + event(4, 2, Bytes(22, 0)) + response(4, 5, {0x00, 0x81, 0x01}));
  // The wait runs to its limit, and not much more than one further read.
  const auto start = Clock::now();
  EXPECT_EQ(thrownAs<Vexa::Notification::ContactingDevice>([this] { link.wait_response(); },
                                                         [](const auto& e) { return e.detail(); }),
            "the BLE dongle refused the command: BGAPI result 0x0181");
  EXPECT_GE(msSince(start), kLimitMs);
  say(response(4, 5, {0x00, 0x00, 0x00}));
  EXPECT_NO_THROW(link.wait_response());
}

TEST_F(BleLink, CompletionBeforeTheWaitBeganStillCounts) {
  link.command(Vexa::bgapi::endProcedure());
  say(kCompleted);
  // Someone else (a loop's receive) reads the completion first.
  uint8_t buf[20];
  EXPECT_EQ(link.receiveValue(buf, sizeof buf), 0);
  EXPECT_NO_THROW(link.wait_prccomplete(false));  // else it fails at its limit
}

TEST_F(BleLink, AMessagePausedMidwayArrivesWholeAndTheNextInStep) {
  const Bytes value = event(4, 5, {0x00, 0x09, 0x00, 0x01, 0x04, 0x5A, 0xC3, 0x0F, 0x71});
  // Within the header, between header and payload, within the payload.
  for (long pauseAt : {2, 4, 7}) {
    link.setRcvTimeout(0);  // polls
    link.chunks = {Bytes(value.begin(), value.begin() + pauseAt), {}, Bytes(value.begin() + pauseAt, value.end()),
                   kValueAbc};
    uint8_t buf[20];
    const int first = link.receiveValue(buf, sizeof buf);
    EXPECT_EQ(Bytes(buf, buf + std::max(first, 0)), (Bytes{0x5A, 0xC3, 0x0F, 0x71})) << pauseAt;
    const int next = link.receiveValue(buf, sizeof buf);
    EXPECT_EQ(std::string(buf, buf + std::max(next, 0)), "abc") << pauseAt;
  }
}

TEST_F(BleLink, ReceiveSkipsOtherMessagesUntilItsTimeOut) {
  link.setRcvTimeout(kLimitMs);
  say(response(6, 4, {0x00, 0x00}) + event(0, 0, Bytes(12, 0)) + kValueAbc);
  uint8_t buf[20];
  EXPECT_EQ(link.receiveValue(buf, 2), 2);
  // The rest of that value is dropped, not left for the next receive.
  say(response(6, 4, {0x00, 0x00}));
  const auto start = Clock::now();
  EXPECT_EQ(link.receiveValue(buf, sizeof buf), 0);
  EXPECT_GE(msSince(start), kLimitMs - 5);
}

using vexa_sim::DongleModel;

// The address the simulated dongle's device answers at, as a path.
constexpr char kDevicePath[] = "BLE00:07:80:4C:1E:01";

std::unique_ptr<vexa_sim::BleFirmware> currentDevice(vexa_sim::CurrentDeviceConfig config = {}) {
  return std::make_unique<vexa_sim::MessageFirmware>(std::make_unique<vexa_sim::CurrentDeviceModel>(config));
}

// A simulated dongle on a pseudo-terminal, offered as the only candidate;
// a current device by default.
struct DongleSim {
  explicit DongleSim(std::unique_ptr<vexa_sim::BleFirmware> device = currentDevice(),
                     vexa_sim::DongleConfig config = {})
      : sim(std::make_unique<DongleModel>(std::move(config), std::move(device))),
        ports(std::vector<std::string>{sim.comPath()}) {}
  template <class F>
  decltype(auto) with(F&& f) {
    return sim.engine().with<DongleModel>(std::forward<F>(f));
  }

  vexa_sim::PtySimulator sim;
  DonglePorts ports;
};

const Bytes kReset = {0x00, 0x01, 0x00, 0x00, 0x00};
const Bytes kEndProcedure = {0x00, 0x00, 0x06, 0x04};
const Bytes kDisconnect = {0x00, 0x01, 0x03, 0x00, 0x03};  // connection 3, the simulated dongle's
const Bytes kScanParameters = {0x00, 0x05, 0x06, 0x07, 0x00, 0x32, 0x00, 0x19, 0x01};
const Bytes kDiscover = {0x00, 0x01, 0x06, 0x02, 0x01};

std::vector<Bytes> commands(DongleSim& dongle) {
  return dongle.with([](DongleModel& d) { return d.commands(); });
}
bool connected(DongleSim& dongle) {
  return dongle.with([](DongleModel& d) { return d.connected(); });
}

TEST(BleSearch, ListsFamilyNamesOncePerAddressInPathOrder) {
  auto address = [](uint8_t last) { return vexa_sim::BleAddress{0x00, 0x07, 0x80, 0x00, 0x00, last}; };
  using vexa_sim::namedAdvertisement;
  vexa_sim::DongleConfig config;
  config.advertisements = {
      namedAdvertisement(address(0x0C), "QUILLBOX_3"),
      namedAdvertisement(address(0x0A), "vexa Strandelo"),
      namedAdvertisement(address(0x0B), "Headphones"),
      namedAdvertisement(address(0x0A), "Vexa renamed"),  // same address, later name
      namedAdvertisement(address(0x0D), "Vexa advert", vexa_sim::kConnectableAdvertisement),
      {address(0x0E), {0x01}, vexa_sim::kScanResponse},  // no room for a name
      namedAdvertisement(address(0x09), "FernlitVexa"),
  };
  DongleSim dongle(currentDevice(), config);
  // A response amid the scan records is not one of them, whatever its result.
  dongle.with([](DongleModel& d) { d.strayResponseWhileScanning(0xFFFF); });
  EXPECT_EQ(listing(Vexa::BLE::findDevices(fastTimings())), (std::vector<std::string>{"BLE00:07:80:00:00:09=FernlitVexa", "BLE00:07:80:00:00:0A=vexa Strandelo",
                                             "BLE00:07:80:00:00:0C=QUILLBOX_3"}));
  EXPECT_EQ(commands(dongle), (std::vector<Bytes>{kReset, kEndProcedure, kScanParameters, kDiscover, kEndProcedure}));
}

TEST(BleSearch, NothingAroundIsAnEmptyListAndAFaultyDongleAnError) {
  Vexa::BleTimings t = fastTimings();
  t.searchReplyMs = 200;
  const std::string initializing = typeName<Vexa::Notification::InitializingPort>();
  const std::pair<std::function<void(DongleModel&)>, std::string> cases[] = {
      {[](DongleModel&) {}, "nothing"},
      {[](DongleModel& d) { d.setSilent(true); }, initializing},
      // The first end procedure is refused anyway (nothing runs): the
      // refusal falls on the scan parameters.
      {[](DongleModel& d) { d.failNextResponse(vexa_sim::kWrongState); }, initializing},
  };
  for (const auto& [fault, failure] : cases) {
    DongleSim dongle;
    dongle.with(fault);
    EXPECT_EQ(thrownType([&t] { EXPECT_TRUE(Vexa::BLE::findDevices(t).empty()); }), failure);
  }
}

// A cancelled search ends while the dongle restarts, however long that
// would take; the dongle got the reset and nothing more.
TEST(BleSearch, ACancelEndsTheWaitForTheDonglesRestart) {
  DongleSim dongle;
  Vexa::BleTimings t = fastTimings();
  t.restartPauseMs = 3600 * 1000;
  EXPECT_EQ(thrownWhenCancelled("the cancelled search", [&t] { Vexa::BLE::findDevices(t); }),
            typeName<Vexa::Error::Cancelled>());
  EXPECT_TRUE(vexa_test::eventually([&] { return commands(dongle) == std::vector<Bytes>{kReset}; }));
}

TEST(BleConnect, EachLinkTakesADongleOfItsOwn) {
  vexa_sim::DongleConfig secondConfig;
  secondConfig.deviceAddress[5] = 0x02;
  vexa_sim::PtySimulator first(std::make_unique<DongleModel>(vexa_sim::DongleConfig{}, currentDevice()));
  vexa_sim::PtySimulator second(std::make_unique<DongleModel>(secondConfig, currentDevice()));
  DonglePorts ports({first.comPath(), second.comPath()});
  auto resets = [](vexa_sim::PtySimulator& sim) {
    const auto sent = sim.engine().with<DongleModel>([](DongleModel& d) { return d.commands(); });
    return std::count(sent.begin(), sent.end(), kReset);
  };
  auto failure = [](const char* path) { return thrownType([path] { Vexa::BLE ble(path, fastTimings()); }); };
  {
    Vexa::BLE one(kDevicePath, fastTimings());
    // The same device under another spelling is refused before any dongle
    // is touched.
    EXPECT_EQ(failure("ble0:7:80:4c:1e:1"), typeName<Vexa::Notification::LinkInUse>());
    EXPECT_EQ(resets(second), 0);
    Vexa::BLE two("BLE00:07:80:4C:1E:02", fastTimings());
    EXPECT_EQ(resets(first), 1);
    EXPECT_EQ(resets(second), 1);
    try {
      Vexa::BLE three("BLE00:07:80:4C:1E:03", fastTimings());
      ADD_FAILURE() << "a third link shared a dongle";
    } catch (const Vexa::Notification::LinkInUse& e) {
      EXPECT_NE(e.detail().find("two BLE devices need two dongles"), std::string::npos) << e.detail();
    }
  }
  // Both dongles are free again once their links have closed.
  EXPECT_EQ(failure(kDevicePath), "nothing");
  EXPECT_EQ(resets(first), 2);
}

TEST(BleConnect, SendsTheConnectionSequenceAndClosesIt) {
  DongleSim dongle;
  std::vector<Bytes> sequence = {
      kReset,  // then connect, find the service and its attributes, write both configurations
      message(0, 6, 3, {0x01, 0x1E, 0x4C, 0x80, 0x07, 0x00, 0x00, 0x06, 0x00, 0x06, 0x00, 0x32, 0x00, 0x00, 0x00}),
      message(0, 4, 1, {0x03, 0x01, 0x00, 0xFF, 0xFF, 0x02, 0x00, 0x28}),
      message(0, 4, 3, {0x03, 0x04, 0x00, 0x0A, 0x00}),
      message(0, 4, 5, {0x03, 0x07, 0x00, 0x02, 0x02, 0x00}),
      message(0, 4, 5, {0x03, 0x0A, 0x00, 0x02, 0x01, 0x00}),
  };
  {
    Vexa::BLE ble(kDevicePath, fastTimings());
    EXPECT_TRUE(connected(dongle));
    EXPECT_EQ(commands(dongle), sequence);
  }
  sequence.push_back(kEndProcedure);
  sequence.push_back(kDisconnect);
  EXPECT_FALSE(connected(dongle));
  EXPECT_EQ(commands(dongle), sequence);
}

TEST(BleConnect, FailuresLeaveTheDongleIdleAndThePortFree) {
  const std::string notSupported = typeName<Vexa::Error::NotSupported>();
  const std::string contacting = typeName<Vexa::Notification::ContactingDevice>();
  struct Case {
    const char* what;
    std::function<void(DongleModel&)> fault;
    std::string failure;
    bool connectedFirst;  // so the host must disconnect, not only stop
  } const cases[] = {
      {"no data characteristic", [](DongleModel& d) { d.config().gatt.dataCharacteristic = false; }, notSupported,
       true},
      {"no command characteristic", [](DongleModel& d) { d.config().gatt.commandCharacteristic = false; }, notSupported,
       true},
      {"no service", [](DongleModel& d) { d.config().gatt.service = false; }, notSupported, true},
      {"failed discovery", [](DongleModel& d) { d.failNextProcedure(vexa_sim::kInvalidHandle); }, contacting, true},
      {"refused connection", [](DongleModel& d) { d.failNextResponse(vexa_sim::kWrongState); }, contacting, false},
      {"nobody at the address", [](DongleModel& d) { d.config().deviceAddress[5] = 0x02; },
       typeName<Vexa::Notification::DeviceNotFound>(), false},
  };
  Vexa::BleTimings t = fastTimings();
  t.responseMs = t.procedureMs = t.connectMs = 300;
  for (const Case& c : cases) {
    DongleSim dongle;
    dongle.with(c.fault);
    EXPECT_EQ(thrownType([&t] { Vexa::BLE ble(kDevicePath, t); }), c.failure) << c.what;
    EXPECT_FALSE(connected(dongle)) << c.what;
    EXPECT_FALSE(dongle.with([](DongleModel& d) { return d.scanning(); })) << c.what;
    EXPECT_EQ(commands(dongle).back(), c.connectedFirst ? kDisconnect : kEndProcedure) << c.what;
    EXPECT_NO_THROW(Vexa::COM again(dongle.sim.comPath())) << c.what;
  }
}

// A device that says back whatever it is sent.
class EchoModel : public vexa_sim::DeviceModel {
 public:
  void onHostBytes(const uint8_t* data, size_t len, TimePoint) override { emit(data, len); }
};

TEST(BleTransfer, WritesOf20BytesAtMostOneValuePerReceiveUntilDisconnected) {
  DongleSim dongle(std::make_unique<vexa_sim::ByteStreamFirmware>(std::make_unique<EchoModel>()));
  Vexa::BLE ble(kDevicePath, fastTimings());
  auto receive = [&ble](int len) {
    Bytes buf(static_cast<size_t>(len));
    buf.resize(static_cast<size_t>(ble.recv(buf.data(), len)));
    return buf;
  };
  Bytes data = varied(45, 29);
  auto piece = [&data](int from, int to) { return Bytes(data.begin() + from, data.begin() + to); };
  ble.send(data.data(), 0);
  ble.send(data.data(), 45);
  EXPECT_EQ(dongle.with([](vexa_sim::DongleModel& d) { return d.deviceWrites(); }),
            (std::vector<Bytes>{piece(0, 20), piece(20, 40), piece(40, 45)}));
  // The echoes came back while each write waited for completion: queued.
  EXPECT_EQ(receive(4), piece(0, 4));
  EXPECT_EQ(receive(20), piece(20, 40)) << "the rest of a value is dropped";
  EXPECT_EQ(receive(20), piece(40, 45));
  // A disconnection ends a receive at once, and is remembered.
  ble.setRcvTimeout(5000);
  dongle.with([](DongleModel& d) { d.dropConnection(); });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(ble.recv(data.data(), 20), Vexa::Notification::ContactingDevice);
  EXPECT_THROW(ble.send(data.data(), 1), Vexa::Notification::ContactingDevice);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(BleAcquisition, CurrentDeviceStreamsEveryTickAndTakesAnInterruptFromAnotherThread) {
  vexa_sim::CurrentDeviceConfig config;
  config.ticksPerFrame = 4;  // 16 payload bytes: one value per frame
  DongleSim dongle(currentDevice(config));
  RecordingDev dev(kDevicePath, std::make_unique<Vexa::BLE>(kDevicePath, fastTimings()));
  EXPECT_EQ(streamChecked(dev, 500.0f, {{1, 1, 16, 0x03}}, 499), "");

  // The interrupt writes its command while the loop thread reads the link.
  dev.stopOnFrame = nullptr;
  dev.setTimeout(-1);
  auto loop = std::async(std::launch::async, [&dev] { dev.loop(); });
  EXPECT_TRUE(eventually([&dev] { return dev.impl()->state == Vexa::kReceiving; }));
  dev.interrupt(nullptr);
  ASSERT_EQ(loop.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  loop.get();
  EXPECT_EQ(dev.interrupts.size(), 1u);
}

}  // namespace
}  // namespace vexa_test
