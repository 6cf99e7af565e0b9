// Opening, receiving from and writing to an adapter through the fake FTDI
// libraries: the calls made, their order, and what each failure leaves.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "io/usb/ftdi_libraries.h"
#include "io/usb/usb.h"
#include "usb/fake_ftdi_control.h"
#include "vexa/exceptions.h"

namespace vexa_test {
namespace {

using Lines = std::vector<std::string>;
using Vexa::USB;

class UsbTransport : public ::testing::Test {
 protected:
  Vexa::FtdiLibraries libraries{fakeFiles()};
  FakeFtdi fake;
};

const Lines kOpenSequence = {"FT_Open 1",          "FT_SetUSBParameters 65536 0",    "FT_SetLatencyTimer 1",
                             "FT4222_GetVersion",  "FT4222_SPISlave_Init",           "FT4222_SetClock 3",
                             "FT4222_SetEventNotification 8"};

// The log from FT_Open on, leaving out the adapter search before it.
Lines fromOpen(const Lines& log) {
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i].rfind("FT_Open", 0) == 0) return Lines(log.begin() + static_cast<std::ptrdiff_t>(i), log.end());
  }
  return {};
}

TEST_F(UsbTransport, OpensInSpiSlaveModeAndClosesInReverse) {
  fake.addAdapter();
  fake.addAdapter();
  {
    USB usb("USB1", libraries);
    EXPECT_EQ(fromOpen(fake.log()), kOpenSequence);
    EXPECT_EQ(fake.openCount(), 1);
    fake.takeLog();
  }
  EXPECT_EQ(fake.takeLog(), (Lines{"FT4222_UnInitialize", "FT_Close"}));
  EXPECT_EQ(fake.openCount(), 0);
}

TEST_F(UsbTransport, ChipVersionPicksTheLibraryBuild) {
  struct Case {
    uint32_t chip;
    const char* prefix;
  } const cases[] = {{kRevB, "AB:"}, {0x42220100, "AB:"}, {kRevC, ""}, {0x42220400, ""}};
  for (const Case& c : cases) {
    FakeFtdi fresh;
    fresh.addAdapter("current", c.chip);
    {
      USB usb("USB0", libraries);
      uint8_t probe = 0x07;
      usb.send(&probe, 1);
    }
    const std::string p = c.prefix;
    // The version always comes from the first build, to choose.
    EXPECT_EQ(fromOpen(fresh.log()),
              (Lines{"FT_Open 0", "FT_SetUSBParameters 65536 0", "FT_SetLatencyTimer 1", "FT4222_GetVersion",
                     p + "FT4222_SPISlave_Init", p + "FT4222_SetClock 3", p + "FT4222_SetEventNotification 8",
                     p + "FT4222_SPISlave_Write 1", p + "FT4222_UnInitialize", "FT_Close"}))
        << std::hex << c.chip;
  }
}

TEST_F(UsbTransport, IndexIsTheNumberAfterThePrefix) {
  fake.addAdapter();
  fake.addAdapter();
  struct Case {
    const char* path;
    const char* open;
    bool opens;
  } const cases[] = {
      {"USB", "FT_Open 0", true},        {"USB1", "FT_Open 1", true},
      {"usb1x", "FT_Open 1", true},      {"USB 1", "FT_Open 1", true},
      {"USBx", "FT_Open 0", true},       {"USB2", "FT_Open 2", false},
      {"USB-1", "FT_Open -1", false},    {"USB99999999999", "FT_Open 2147483647", false},
  };
  for (const Case& c : cases) {
    fake.takeLog();
    if (c.opens) {
      EXPECT_NO_THROW(USB(c.path, libraries)) << c.path;
    } else {
      EXPECT_THROW(USB(c.path, libraries), Vexa::Notification::OpeningPort) << c.path;
    }
    EXPECT_EQ(fromOpen(fake.takeLog()).front(), c.open) << c.path;
    EXPECT_EQ(fake.openCount(), 0);
  }
}

TEST_F(UsbTransport, EveryOpeningFailureUndoesWhatWasDone) {
  struct Case {
    const char* failing;
    std::function<void()> expectThrow;
    Lines tail;  // the calls after the failing one
  };
  auto initializing = [this] { EXPECT_THROW(USB("USB0", libraries), Vexa::Notification::InitializingPort); };
  const Case cases[] = {
      {"FT_Open", [this] { EXPECT_THROW(USB("USB0", libraries), Vexa::Notification::OpeningPort); }, {}},
      {"FT_SetUSBParameters", initializing, {"FT_Close"}},
      {"FT_SetLatencyTimer", initializing, {"FT_Close"}},
      {"FT4222_GetVersion", initializing, {"FT_Close"}},
      {"FT4222_SPISlave_Init", initializing, {"FT_Close"}},
      {"FT4222_SetClock", initializing, {"FT4222_UnInitialize", "FT_Close"}},
      {"FT4222_SetEventNotification", initializing, {"FT4222_UnInitialize", "FT_Close"}},
  };
  for (const Case& c : cases) {
    FakeFtdi fresh;
    fresh.addAdapter();
    fresh.failCall(c.failing, 1);
    c.expectThrow();
    Lines log = fromOpen(fresh.log());
    size_t at = 0;
    while (at < log.size() && log[at].find(c.failing) == std::string::npos) ++at;
    ASSERT_LT(at, log.size()) << c.failing;
    EXPECT_EQ(Lines(log.begin() + static_cast<std::ptrdiff_t>(at) + 1, log.end()), c.tail) << c.failing;
    EXPECT_EQ(fresh.openCount(), 0) << c.failing;
  }
}

TEST_F(UsbTransport, WritesWholeBuffersAndRefusesShortWrites) {
  fake.addAdapter("");
  USB usb("USB0", libraries);
  std::vector<uint8_t> data(300, 0x5A);
  fake.takeLog();
  usb.send(data.data(), 300);
  EXPECT_EQ(fake.takeLog(), Lines{"FT4222_SPISlave_Write 300"});

  fake.shortenNextWrite(1);
  EXPECT_THROW(usb.send(data.data(), 300), Vexa::Notification::ContactingDevice);
  fake.failCall("FT4222_SPISlave_Write", 1);
  EXPECT_THROW(usb.send(data.data(), 300), Vexa::Notification::ContactingDevice);

  // Beyond the library's 16-bit length: in pieces, none cut short.
  std::vector<uint8_t> big(70000, 1);
  fake.takeLog();
  usb.send(big.data(), static_cast<int>(big.size()));
  EXPECT_EQ(fake.takeLog(), (Lines{"FT4222_SPISlave_Write 65535", "FT4222_SPISlave_Write 4465"}));
}

TEST_F(UsbTransport, ReceivesWhatTheDeviceAnswers) {
  fake.addAdapter("cadrium");
  USB usb("USB0", libraries);
  usb.setRcvTimeout(2000);
  const uint8_t probe = 'V';
  usb.send(&probe, 1);
  uint8_t line[64] = {};
  int got = 0;
  while (got == 0 || line[got - 1] != '\n') {
    const int n = usb.recv(line + got, 3);
    ASSERT_GT(n, 0);
    ASSERT_LE(n, 3);
    got += n;
  }
  EXPECT_EQ(std::string(reinterpret_cast<char*>(line), got).rfind("Cadrium", 0), 0u);
  // Reads ask only for what is there, and never more than asked.
  for (const std::string& call : fake.log()) {
    if (call.rfind("FT4222_SPISlave_Read", 0) == 0) {
      EXPECT_LE(std::stoi(call.substr(21)), 3) << call;
    }
  }
}

TEST_F(UsbTransport, ReceiveFailuresAreALostLink) {
  fake.addAdapter("cadrium");
  USB usb("USB0", libraries);
  usb.setRcvTimeout(2000);
  uint8_t buf[8];
  fake.failCall("FT4222_SPISlave_GetRxStatus", 1);
  EXPECT_THROW(usb.recv(buf, 8), Vexa::Notification::ContactingDevice);
  const uint8_t probe = 'V';
  usb.send(&probe, 1);
  fake.failCall("FT4222_SPISlave_Read", 1);
  EXPECT_THROW(while (usb.recv(buf, 8) == 0) {}, Vexa::Notification::ContactingDevice);
  EXPECT_THROW(usb.recv(nullptr, 8), Vexa::Error::InvalidParameter);
  EXPECT_EQ(usb.recv(buf, 0), 0);
}

// Real waits: each case takes up to its time-out.
TEST_F(UsbTransport, WaitsInSlicesOfASecondAndProbesTheAdapter) {
  using std::chrono::milliseconds;
  struct Case {
    int timeout;
    bool adapterGone;
    int probes;
    milliseconds atLeast;
    milliseconds below;
  } const cases[] = {
      {0, false, 1, milliseconds(0), milliseconds(500)},
      {0, true, 1, milliseconds(0), milliseconds(500)},
      {300, false, 1, milliseconds(300), milliseconds(1000)},
      {1500, false, 2, milliseconds(1500), milliseconds(2500)},
      // Waiting without limit still notices a removed adapter within a slice.
      {-1, true, 1, milliseconds(1000), milliseconds(2000)},
  };
  fake.addAdapter("");
  USB usb("USB0", libraries);
  for (const Case& c : cases) {
    usb.setRcvTimeout(c.timeout);
    if (c.adapterGone) fake.failCall("FT_GetStatus", 1);
    fake.takeLog();
    uint8_t buf[4];
    const auto start = std::chrono::steady_clock::now();
    if (c.adapterGone) {
      EXPECT_THROW(usb.recv(buf, 4), Vexa::Notification::ContactingDevice) << c.timeout;
    } else {
      EXPECT_EQ(usb.recv(buf, 4), 0) << c.timeout;
    }
    const auto took = std::chrono::steady_clock::now() - start;
    int probes = 0;
    for (const std::string& call : fake.takeLog()) probes += call == "FT_GetStatus" ? 1 : 0;
    EXPECT_EQ(probes, c.probes) << c.timeout;
    EXPECT_GE(took, c.atLeast) << c.timeout;
    EXPECT_LT(took, c.below) << c.timeout;
  }
}

TEST_F(UsbTransport, SignalForBytesAlreadyTakenDoesNotCutTheWaitShort) {
  fake.addAdapter("cadrium");
  USB usb("USB0", libraries);
  usb.setRcvTimeout(2000);
  const uint8_t probe = 'V';
  usb.send(&probe, 1);
  uint8_t line[64];
  int got = 0;
  while (got == 0 || line[got - 1] != '\n') got += usb.recv(line + got, static_cast<int>(sizeof line) - got);
  // Every byte is taken; the signals they raised must not pass for new data.
  usb.setRcvTimeout(300);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(usb.recv(line, 8), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

}  // namespace
}  // namespace vexa_test
