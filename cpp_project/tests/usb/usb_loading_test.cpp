// Loading the FTDI libraries by name and listing adapters, through the
// transport's own loading code and the fake libraries.
#include <gtest/gtest.h>

#include "io/usb/ftdi_libraries.h"
#include "usb/fake_ftdi_control.h"
#include "vexa/exceptions.h"

namespace vexa_test {
namespace {

using Vexa::FtdiFiles;
using Vexa::FtdiLibraries;

TEST(UsbLoading, MissingLibraryNamesItsModuleAndLocation) {
  const std::string missing = fakePath("absent/none.so");
  struct Case {
    FtdiFiles files;
    const char* location;
  };
  const FtdiFiles good = fakeFiles();
  const Case cases[] = {
      {{missing, good.ft4222, good.ft4222ab}, "(<unnamed-type-ftd2xx>::load)"},
      {{good.d2xx, missing, good.ft4222ab}, "(USB::FT4222Dll::load)"},
      {{good.d2xx, good.ft4222, missing}, "(USB::FT4222Dll::load)"},
  };
  for (const Case& c : cases) {
    FtdiLibraries libraries(c.files);
    try {
      libraries.load();
      ADD_FAILURE() << "loaded without " << missing;
    } catch (const Vexa::Error::MissingModule& e) {
      EXPECT_EQ(e.moduleName, missing);
      EXPECT_NE(e.location().find(c.location), std::string::npos) << e.location();
    }
  }
}

TEST(UsbLoading, MissingEntryPointLeavesTheTableEmpty) {
  FtdiFiles files = fakeFiles();
  files.ft4222 = fakePath(std::string("no_uninit/") + kFt4222Name);
  FtdiLibraries libraries(files);
  try {
    libraries.load();
    FAIL() << "loaded without FT4222_UnInitialize";
  } catch (const Vexa::Error::MissingModule& e) {
    EXPECT_EQ(e.moduleName, files.ft4222 + ":FT4222_UnInitialize");
    EXPECT_NE(e.location().find("(getProc)"), std::string::npos) << e.location();
  }
  EXPECT_TRUE(libraries.d2xx.loaded());
  EXPECT_FALSE(libraries.ft4222.loaded());
  // Nothing of the failed library is kept half-filled.
  EXPECT_EQ(libraries.ft4222.getVersion, nullptr);
  EXPECT_FALSE(libraries.ft4222ab.loaded());
}

TEST(UsbLoading, SearchListsOnlyFreeHighSpeedFt4222hAdapters) {
  FakeFtdi fake;
  using Vexa::ftdi::kTypeFt4222H;
  fake.addAdapter("", kRevC, kFreeHighSpeed);                                      // 0: listed
  fake.addAdapter("", kRevC, kFreeHighSpeed | Vexa::ftdi::kFlagOpened);             // 1: in use elsewhere
  fake.addAdapter("", kRevC, 0);                                                    // 2: full speed only
  fake.addAdapter("", kRevC, kFreeHighSpeed, 8);                                    // 3: another chip
  fake.addAdapter("", kRevC, kFreeHighSpeed, kTypeFt4222H, 0x04036001);             // 4: another product
  fake.addAdapter("", kRevB, kFreeHighSpeed);                                       // 5: listed, index kept
  FtdiLibraries libraries(fakeFiles());
  const auto found = Vexa::USB::findDevices(libraries);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].path, "USB0");
  EXPECT_EQ(found[1].path, "USB5");
  for (const auto& info : found) EXPECT_EQ(info.description, "VEXA USB Adapter");
}

TEST(UsbLoading, SearchFailures) {
  FakeFtdi fake;
  fake.addAdapter();
  fake.addAdapter();
  FtdiLibraries libraries(fakeFiles());
  // A detail that cannot be read leaves that adapter out.
  fake.failCall("FT_GetDeviceInfoDetail", 1);
  const auto found = Vexa::USB::findDevices(libraries);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].path, "USB1");
  // No list at all is an error of its own.
  fake.failCall("FT_CreateDeviceInfoList", 1);
  try {
    Vexa::USB::findDevices(libraries);
    FAIL() << "list failure ignored";
  } catch (const Vexa::Notification::InitializingPort& e) {
    EXPECT_NE(e.location().find("(USB::findDevices)"), std::string::npos);
  }
}

}  // namespace
}  // namespace vexa_test
