// The USB transport through its own loading code and the fake FTDI
// libraries: loading them, listing adapters, the calls made to open,
// receive and write with what each failure leaves, and whole connections to
// the simulated devices behind an adapter.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "fake_ftdi.h"
#include "io/usb/ftdi_api.h"
#include "io/usb/ftdi_libraries.h"
#include "io/usb/usb.h"
#include "support/messages.h"
#include "support/recording_dev.h"
#include "vexa/exceptions.h"
#include "vexa/log.h"

namespace vexa_test {
namespace {

constexpr uint32_t kFreeHighSpeed = Vexa::ftdi::kFlagHighSpeed;
constexpr uint32_t kRevB = 0x42220200;
constexpr uint32_t kRevC = 0x42220300;

#ifdef _WIN32
constexpr char kD2xxName[] = "FTD2XX.dll";
constexpr char kFt4222Name[] = "LibFT4222-64.dll";
constexpr char kFt4222AbPath[] = "/LibFT4222AB-64.dll";
#else
constexpr char kD2xxName[] = "libftd2xx.so";
constexpr char kFt4222Name[] = "libft4222.so";
constexpr char kFt4222AbPath[] = "/ab/libft4222.so";
#endif

std::string fakePath(const std::string& relative) { return std::string(FAKE_FTDI_DIR) + "/" + relative; }

// The three fakes by absolute path.
Vexa::FtdiFiles fakeFiles() {
  return {fakePath(kD2xxName), fakePath(kFt4222Name), std::string(FAKE_FTDI_DIR) + kFt4222AbPath, ""};
}

// Drives the fake FTDI libraries, linked into this program: the transport's
// own loading by path finds the same module. Each one resets them.
class FakeFtdi {
 public:
  FakeFtdi() { FakeFtdi_Reset(); }
  ~FakeFtdi() { FakeFtdi_Reset(); }

  // A free FT4222H adapter (or any listing the test chooses).
  int addAdapter(const char* model = "current", uint32_t chip = kRevC, uint32_t flags = kFreeHighSpeed,
                 uint32_t type = Vexa::ftdi::kTypeFt4222H, uint32_t id = Vexa::ftdi::kAdapterId) {
    return FakeFtdi_AddAdapter(flags, type, id, chip, model);
  }
  void failCall(const char* function, int times = -1, uint32_t status = 4) {
    FakeFtdi_FailCall(function, status, times);
  }
  // Bytes arriving right after the next receive count, signalled without
  // the flag.
  void arriveAfterNextCount(const std::string& bytes) {
    FakeFtdi_ArriveAfterNextCount(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  // What the host wrote to the silent adapter at index.
  std::vector<uint8_t> takeWritten(int index = 0) {
    std::vector<uint8_t> out(1 << 17);
    out.resize(FakeFtdi_TakeWritten(index, out.data(), out.size()));
    return out;
  }
  // The calls logged since the last time, one a line.
  std::vector<std::string> takeLog() {
    std::string text(FakeFtdi_Log(nullptr, 0) + 1, '\0');
    FakeFtdi_Log(&text[0], text.size());
    std::vector<std::string> lines;
    std::istringstream in(text.c_str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    const std::vector<std::string> fresh(lines.begin() + static_cast<std::ptrdiff_t>(seen_), lines.end());
    seen_ = lines.size();
    return fresh;
  }

 private:
  size_t seen_ = 0;
};

using Lines = std::vector<std::string>;
using Vexa::FtdiFiles;
using Vexa::FtdiLibraries;
using Vexa::USB;
using Vexa::Notification::ContactingDevice;

// A missing library, or an entry point missing from one, names the module
// (and the function) and the location, and leaves no table half-filled.
TEST(UsbLoading, MissingLibraryOrEntryPointNamesItsModule) {
  const std::string missing = fakePath("absent/none.so");
  const std::string noUninit = fakePath(std::string("no_uninit/") + kFt4222Name);
  const FtdiFiles good = fakeFiles();
  // The files, the module missing, where that was found, whether the D2XX
  // and the FT4222 library were loaded.
  const std::tuple<FtdiFiles, std::string, const char*, bool, bool> cases[] = {
      {{missing, good.ft4222, good.ft4222ab, ""}, missing, "(Vexa::Ftd2xxDll::load)", false, false},
      {{good.d2xx, missing, good.ft4222ab, ""}, missing, "(Vexa::USB::FT4222Dll::load)", true, false},
      {{good.d2xx, good.ft4222, missing, ""}, missing, "(Vexa::USB::FT4222Dll::load)", true, true},
      {{good.d2xx, noUninit, good.ft4222ab, ""}, noUninit + ":FT4222_UnInitialize", "(Vexa::getProc)", true, false},
  };
  for (const auto& [files, module, location, d2xxLoaded, ft4222Loaded] : cases) {
    FtdiLibraries libraries(files);
    EXPECT_EQ(thrownAs<Vexa::Error::MissingModule>([&libraries] { libraries.load(); },
                                                   [](const auto& e) { return e.moduleName + locationFunction(e); }),
              module + location);
    EXPECT_EQ((std::vector<bool>{libraries.d2xx.loaded(), libraries.ft4222.loaded(),
                                 libraries.ft4222.getVersion != nullptr, libraries.ft4222ab.loaded()}),
              (std::vector<bool>{d2xxLoaded, ft4222Loaded, ft4222Loaded, false}))
        << module;
  }
}

#ifndef _WIN32
// Names are looked for in the folder given (the plug-in's) before the
// system's search, and the debug log says which file came from where: the
// folder here holds only the "AB" build, which a revision C chip then gets,
// while the D2XX library comes from the system's search.
TEST(UsbLoading, NamesAreLookedForInTheFolderFirst) {
  const std::string folder = fakePath("ab");
  static std::vector<std::string> logged;
  Vexa::setLogHandler([](Vexa::LogLevel, const char* line) { logged.push_back(line); }, Vexa::LogLevel::kDebug);
  FakeFtdi fake;
  fake.addAdapter("current", kRevC);
  FtdiLibraries libraries({kD2xxName, kFt4222Name, kFt4222Name, folder});
  USB("USB0", libraries);
  Vexa::setLogHandler(nullptr, Vexa::LogLevel::kOff);
  const Lines calls = fake.takeLog();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "AB:FT4222_SPISlave_Init"), calls.end());
  const std::string line = std::string(kFt4222Name) + " loaded from " + folder + "/" + kFt4222Name;
  EXPECT_NE(std::find(logged.begin(), logged.end(), line), logged.end()) << line;
}

// The plug-in's own folder is that of the module holding the library's
// code: here, statically linked, this program's.
TEST(UsbLoading, OwnFolderHoldsThisCode) {
  const std::string folder = Vexa::SharedLibrary::ownFolder();
  // (equivalent throws for an empty folder.)
  EXPECT_TRUE(std::filesystem::equivalent(folder, std::filesystem::read_symlink("/proc/self/exe").parent_path()));
  EXPECT_EQ(folder.back(), '/') << folder;
}
#endif

class UsbTransport : public ::testing::Test {
 protected:
  FtdiLibraries libraries{fakeFiles()};
  FakeFtdi fake;
};

// The log from FT_Open on, leaving out the adapter search before it.
Lines fromOpen(const Lines& log) {
  return Lines(std::find_if(log.begin(), log.end(), [](const std::string& c) { return c.rfind("FT_Open", 0) == 0; }),
               log.end());
}

TEST_F(UsbTransport, SearchListsOnlyTheFreeHighSpeedFt4222hAdaptersItCanRead) {
  using Vexa::ftdi::kTypeFt4222H;
  fake.addAdapter("", kRevC, kFreeHighSpeed);                            // 0: listed
  fake.addAdapter("", kRevC, kFreeHighSpeed | Vexa::ftdi::kFlagOpened);  // 1: in use elsewhere
  fake.addAdapter("", kRevC, 0);                                         // 2: full speed only
  fake.addAdapter("", kRevC, kFreeHighSpeed, 8);                         // 3: another chip
  fake.addAdapter("", kRevC, kFreeHighSpeed, kTypeFt4222H, 0x04036001);  // 4: another product
  fake.addAdapter("", kRevB, kFreeHighSpeed);                            // 5: listed, index kept
  EXPECT_EQ(listing(USB::findDevices(libraries)), (Lines{"USB0=VEXA USB Adapter", "USB5=VEXA USB Adapter"}));
  fake.failCall("FT_GetDeviceInfoDetail", 1);  // adapter 0's
  EXPECT_EQ(listing(USB::findDevices(libraries)), Lines{"USB5=VEXA USB Adapter"});
  // No list at all is an error of its own.
  fake.failCall("FT_CreateDeviceInfoList", 1);
  EXPECT_EQ(thrownAs<Vexa::Notification::InitializingPort>([this] { USB::findDevices(libraries); }, locationFunction),
            "(Vexa::USB::findDevices)");
}

TEST_F(UsbTransport, OpensInSpiSlaveModeWithTheBuildForTheChipAndClosesInReverse) {
  const std::pair<uint32_t, std::string> cases[] = {{kRevB, "AB:"}, {0x42220100, "AB:"}, {kRevC, ""}, {0x42220400, ""}};
  for (const auto& [chip, p] : cases) {
    FakeFtdi fresh;
    fresh.addAdapter("current", chip);
    {
      USB usb("USB0", libraries);
      EXPECT_EQ(FakeFtdi_OpenCount(), 1);
      const uint8_t probe = 0x07;
      usb.send(&probe, 1);
    }
    EXPECT_EQ(FakeFtdi_OpenCount(), 0);
    // The version always comes from the first build, to choose.
    EXPECT_EQ(fromOpen(fresh.takeLog()),
              (Lines{"FT_Open 0", "FT_SetUSBParameters 65536 0", "FT_SetLatencyTimer 1", "FT4222_GetVersion",
                     p + "FT4222_SPISlave_Init", p + "FT4222_SetClock 3", p + "FT4222_SetEventNotification 8",
                     p + "FT4222_SPISlave_Write 1", p + "FT4222_UnInitialize", "FT_Close"}))
        << std::hex << chip;
  }
}

TEST_F(UsbTransport, IndexIsTheNumberAfterThePrefix) {
  fake.addAdapter();
  fake.addAdapter();
  const std::string opening = typeName<Vexa::Notification::OpeningPort>();
  // Path, the open call, what the connection threw.
  const std::tuple<const char*, const char*, std::string> cases[] = {
      {"USB", "FT_Open 0", "nothing"},   {"USB1", "FT_Open 1", "nothing"},
      {"usb1x", "FT_Open 1", "nothing"}, {"USB 1", "FT_Open 1", "nothing"},
      {"USBx", "FT_Open 0", "nothing"},  {"USB2", "FT_Open 2", opening},
      {"USB-1", "FT_Open -1", opening},  {"USB99999999999", "FT_Open 2147483647", opening},
  };
  for (const auto& [path, open, failure] : cases) {
    fake.takeLog();
    EXPECT_EQ(thrownType([&, p = path] { USB(p, libraries); }), failure) << path;
    EXPECT_EQ(fromOpen(fake.takeLog()).front(), open) << path;
    EXPECT_EQ(FakeFtdi_OpenCount(), 0);
  }
}

TEST_F(UsbTransport, EveryOpeningFailureUndoesWhatWasDone) {
  const std::pair<const char*, Lines> cases[] = {
      // The failing call, and the calls after it.
      {"FT_Open", {}},
      {"FT_SetUSBParameters", {"FT_Close"}},
      {"FT_SetLatencyTimer", {"FT_Close"}},
      {"FT4222_GetVersion", {"FT_Close"}},
      {"FT4222_SPISlave_Init", {"FT_Close"}},
      {"FT4222_SetClock", {"FT4222_UnInitialize", "FT_Close"}},
      {"FT4222_SetEventNotification", {"FT4222_UnInitialize", "FT_Close"}},
  };
  uint32_t status = 2;
  for (const auto& [failing, tail] : cases) {
    FakeFtdi fresh;
    fresh.addAdapter();
    fresh.failCall(failing, 1, ++status);
    // The failing call and its status stay with the exception.
    const std::string detail = std::string(failing) + " returned FTDI status " + std::to_string(status);
    EXPECT_EQ(thrownAs<Vexa::NotifException>([this] { USB("USB0", libraries); },
                                             [](const auto& e) { return typeid(e).name() + e.detail(); }),
              (std::string(failing) == "FT_Open" ? typeName<Vexa::Notification::OpeningPort>()
                                                 : typeName<Vexa::Notification::InitializingPort>()) + detail);
    const Lines log = fromOpen(fresh.takeLog());
    const auto at =
        std::find_if(log.begin(), log.end(), [f = failing](const std::string& c) { return c.find(f) == 0; });
    ASSERT_NE(at, log.end()) << failing;
    EXPECT_EQ(Lines(at + 1, log.end()), tail) << failing;
    EXPECT_EQ(FakeFtdi_OpenCount(), 0) << failing;
  }
}

TEST_F(UsbTransport, WritesWholeBuffersAndRefusesShortWrites) {
  fake.addAdapter("");
  USB usb("USB0", libraries);
  const std::vector<uint8_t> data = varied(300, 13);
  fake.takeLog();
  usb.send(data.data(), 300);
  EXPECT_EQ(fake.takeLog(), Lines{"FT4222_SPISlave_Write 300"});

  FakeFtdi_ShortenNextWrite(1);
  EXPECT_THROW(usb.send(data.data(), 300), ContactingDevice);
  fake.failCall("FT4222_SPISlave_Write", 1);
  EXPECT_THROW(usb.send(data.data(), 300), ContactingDevice);

  // Beyond the library's 16-bit length: in pieces, none cut short, each
  // carrying its own part of the buffer.
  const std::vector<uint8_t> big = varied(70000, 7);
  fake.takeWritten();
  fake.takeLog();
  usb.send(big.data(), static_cast<int>(big.size()));
  EXPECT_EQ(fake.takeLog(), (Lines{"FT4222_SPISlave_Write 65535", "FT4222_SPISlave_Write 4465"}));
  EXPECT_TRUE(fake.takeWritten() == big);
}

TEST_F(UsbTransport, ReceivesWhatTheDeviceAnswersAndFailsOnALostLink) {
  fake.addAdapter("cadrium");
  USB usb("USB0", libraries);
  usb.setRcvTimeout(2000);
  uint8_t buf[8];
  fake.failCall("FT4222_SPISlave_GetRxStatus", 1);
  EXPECT_THROW(usb.recv(buf, 8), ContactingDevice);
  const uint8_t probe = 'V';
  usb.send(&probe, 1);
  std::string line;
  while (line.empty() || line.back() != '\n') {
    const int n = usb.recv(buf, 3);
    ASSERT_GT(n, 0);
    ASSERT_LE(n, 3);
    line.append(buf, buf + n);
  }
  EXPECT_EQ(line.rfind("Cadrium", 0), 0u) << line;
  // Reads ask only for what is there, and never more than asked.
  for (const std::string& call : fake.takeLog()) {
    if (call.rfind("FT4222_SPISlave_Read", 0) == 0) {
      EXPECT_LE(std::stoi(call.substr(21)), 3) << call;
    }
  }
  // Every byte is taken; the signals they raised must not pass for new data.
  usb.setRcvTimeout(300);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(usb.recv(buf, 8), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));

  usb.setRcvTimeout(2000);
  usb.send(&probe, 1);
  fake.failCall("FT4222_SPISlave_Read", 1);
  EXPECT_THROW(while (usb.recv(buf, 8) == 0){}, ContactingDevice);
  EXPECT_THROW(usb.recv(nullptr, 8), Vexa::Error::InvalidParameter);
  EXPECT_EQ(usb.recv(buf, 0), 0);
}

// Real waits: each case takes up to its time-out. A probe follows every
// slice that ends without a signal, so the probes count the slices slept.
TEST_F(UsbTransport, WaitsInSlicesOfASecondAndProbesTheAdapter) {
  // The time-out, whether the adapter is gone, the probes made (-1: any),
  // the least time taken, and bytes arriving right after the first count,
  // before the wait begins, signalled without the flag: the receive takes
  // them without sleeping.
  const std::tuple<int, bool, int, int, std::string> cases[] = {
      {0, false, 1, 0, ""},
      {0, true, 1, 0, ""},
      {300, false, 1, 300, ""},
      {1500, false, 2, 1500, ""},
      // Waiting without limit still notices a removed adapter within a slice.
      {-1, true, 1, 1000, ""},
      {0, false, -1, 0, "\x3c\xa5\x01"},
      {300, false, 0, 0, "\x5a\x10\xff\x42\x07"},
      {-1, false, 0, 0, "\x11\x93\x6e"},
  };
  fake.addAdapter("");
  USB usb("USB0", libraries);
  for (const auto& [timeout, adapterGone, probes, atLeastMs, arriving] : cases) {
    usb.setRcvTimeout(timeout);
    if (adapterGone) fake.failCall("FT_GetStatus", 1);
    fake.arriveAfterNextCount(arriving);
    fake.takeLog();
    char buf[8];
    const auto start = std::chrono::steady_clock::now();
    if (adapterGone) {
      EXPECT_THROW(usb.recv(buf, 8), ContactingDevice) << timeout;
    } else {
      const int n = usb.recv(buf, 8);
      EXPECT_EQ(std::string(buf, static_cast<size_t>(std::max(n, 0))), arriving) << timeout;
    }
    const auto took = std::chrono::steady_clock::now() - start;
    const Lines calls = fake.takeLog();
    if (probes >= 0) {
      EXPECT_EQ(std::count(calls.begin(), calls.end(), "FT_GetStatus"), probes) << timeout;
    }
    EXPECT_GE(took, std::chrono::milliseconds(atLeastMs)) << timeout;
  }
}

// A cancelled connect stops looking for an adapter not plugged in (5 s
// otherwise) and stops waiting for a silent one that it opened.
TEST_F(UsbTransport, ACancelEndsTheWaitsOfAConnect) {
  const std::string cancelled = typeName<Vexa::Error::Cancelled>();
  EXPECT_EQ(thrownWhenCancelled("the cancelled connect", [this] { USB("USB0", libraries); }), cancelled);
  fake.addAdapter("");
  USB usb("USB0", libraries);
  usb.setRcvTimeout(-1);
  uint8_t b;
  EXPECT_EQ(thrownWhenCancelled("the cancelled receive", [&] { usb.recv(&b, 1); }), cancelled);
}

// The interrupt writes from its own thread while the loop's receive may be
// inside the library on the same handle; the fake fails a call that finds
// another caller there. Each case holds the receive's call up to 300 ms.
TEST_F(UsbTransport, AWriteWaitsForTheReceiveToLeaveTheLibrary) {
  const std::pair<const char*, bool> cases[] = {
      // The call held, and whether the device has answered by then.
      {"FT4222_SPISlave_GetRxStatus", false},
      {"FT_GetStatus", false},
      {"FT4222_SPISlave_Read", true},
  };
  for (const auto& [held, answered] : cases) {
    FakeFtdi fresh;
    fresh.addAdapter("cadrium");
    USB usb("USB0", libraries);
    const uint8_t ask = 'V';
    if (answered) usb.send(&ask, 1);
    usb.setRcvTimeout(answered ? 2000 : 0);
    FakeFtdi_HoldNextCall(held, 300);
    uint8_t buf[8];
    std::future<int> received = std::async(std::launch::async, [&] { return usb.recv(buf, 8); });
    ASSERT_TRUE(FakeFtdi_AwaitHeld(5000)) << held;
    EXPECT_NO_THROW(usb.send(&ask, 1)) << held;
    EXPECT_NO_THROW(received.get()) << held;
  }
}

TEST_F(UsbTransport, AnAdapterOpenAlreadyIsRefusedUntilItCloses) {
  fake.addAdapter();
  {
    USB open("USB", libraries);
    EXPECT_EQ(thrownType([this] { USB("usb 0", libraries); }), typeName<Vexa::Notification::LinkInUse>());
    EXPECT_EQ(FakeFtdi_OpenCount(), 1);
  }
  EXPECT_EQ(thrownType([this] { USB("usb 0", libraries); }), "nothing");
}

using UsbConnection = UsbTransport;

// Every family is identified; the current device then streams a second
// without loss.
TEST_F(UsbConnection, EveryFamilyIsIdentifiedAndTheCurrentDeviceStreams) {
  for (const auto& [model, family] : {std::pair<const char*, int>{"cadrium", 0}, {"quillbox", 3}, {"current", 1}}) {
    FakeFtdi fresh;
    fresh.addAdapter(model);
    RecordingDev dev("USB0", std::make_unique<USB>("USB0", libraries));
    EXPECT_EQ(static_cast<int>(dev.impl()->family), family) << model;
    if (family == 1) {
      EXPECT_EQ(streamChecked(dev, 1000.0f, {{1, 1, 16, 0x03}, {2, 2, 8, 0x01}}, 999), "");
    }
  }
}

}  // namespace
}  // namespace vexa_test
