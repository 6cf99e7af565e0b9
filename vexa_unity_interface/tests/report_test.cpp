// The catch-and-report wrapper: log lines, codes and the shared buffer.
#include <functional>
#include <stdexcept>
#include <string>

#include "host.h"
#include "report.h"

namespace vexa_unity_test {
namespace {

using Vexa::Unity::ExportCodes;
using Vexa::Unity::reported;

constexpr ExportCodes kCodes = {30, 791, 31, 797, 32, 803, 815};

// Which failure the injector raises inside every wrapped export.
enum Kind { kNotification, kError, kStandard, kOther, kRoot };
Kind injected;

void raiseInjected() {
  switch (injected) {
    case kNotification:
      VEXA_THROW(Vexa::Notification::ContactingDevice);
    case kError:
      VEXA_THROW(Vexa::Error::InvalidOperation, -5);
    case kStandard:
      throw std::runtime_error("50% off");  // the percent sign reaches the log as it is
    case kOther:
      throw 42;
    case kRoot:
      VEXA_THROW(Vexa::Exception);  // of neither branch
  }
}

// Every kind of failure through every wrapped export: the code and the
// whole text of the export's own row of the report table.
TEST_F(HostTest, EveryWrappedExportReportsEveryKindOfFailure) {
  const int data[] = {1};
  const VexaSource source = {1, 1, 16, 1};
  struct Row {
    const char* name;
    std::function<void()> call;
    int notification, error, standard;
    int lines[4];  // notification, error, standard, other; 0: bare description, no log
  } rows[] = {
      {"VexaDevUnity", [] { VexaDevUnity("COM/dev/nonexistent"); }, 1, 2, 3, {384, 390, 396, 408}},
      {"StartAcquisitionByNbr", [] { StartAcquisitionByNbr(1000, 1, 16); }, 5, 6, 7, {437, 443, 449, 461}},
      {"StartAcquisitionBySources", [&] { StartAcquisitionBySources(1000, &source, 1); }, 9, 10, 11,
       {480, 486, 492, 504}},
      {"StartAcquisition", [] { StartAcquisition(1000, "1", 16); }, 13, 14, 15, {542, 548, 554, 566}},
      {"StartAcquisitionStrandelo", [] { StartAcquisitionStrandelo(1000, 0, 16, 100); }, 17, 18, 19,
       {590, 596, 602, 614}},
      {"StartLoop", [] { StartLoop(); }, 21, 21, 24, {0, 0, 644, 656}},
      {"GetDetectableDevices", [] { GetDetectableDevices("BLE"); }, 26, 27, 28, {692, 698, 704, 716}},
      {"GetProductId", [] { EXPECT_EQ(GetProductId(), 0); }, 30, 31, 32, {791, 797, 803, 815}},
      {"GetDeviceType", [] { EXPECT_STREQ(GetDeviceType(), ""); }, 34, 35, 36, {862, 868, 874, 886}},
      {"SetParameter", [&] { SetParameter(1, 1, data, 1); }, 38, 39, 40, {928, 934, 940, 952}},
  };
  const auto at = [](int line) {
    return " at line number " + std::to_string(line) + " in file vexa_unity_interface.cpp (v20220517)";
  };
  Vexa::Unity::failureInjector = raiseInjected;
  const struct Reset {
    ~Reset() { Vexa::Unity::failureInjector = nullptr; }
  } reset;
  for (const Row& row : rows) {
    // StartLoop hands the library's own failures over bare, without a log line.
    const bool bare = row.lines[0] == 0;
    const std::string other = "Not recognized exception" + at(row.lines[3]) + ".\n";
    const struct {
      Kind kind;
      int code;
      std::string message;
      bool logged;
    } kinds[] = {
        {kNotification, row.notification,
         bare ? "The communication with the device was lost."
              : "VEXA Notification Exception" + at(row.lines[0]) + ": The communication with the device was lost.\n",
         !bare},
        {kError, row.error,
         bare ? "Invalid operation on current device state (code -5)."
              : "VEXA Error Exception" + at(row.lines[1]) + ": Invalid operation on current device state (code -5).\n",
         !bare},
        {kStandard, row.standard, "C++ Exception" + at(row.lines[2]) + ": 50% off\n", true},
        {kOther, -1, other, true},
        {kRoot, bare ? row.notification : -1, bare ? "Generic VEXA exception." : other, !bare},
    };
    for (const auto& k : kinds) {
      SCOPED_TRACE(std::string(row.name) + " " + k.message);
      seen().reports.clear();
      injected = k.kind;
      const std::string log = logOf(row.call);
      ASSERT_EQ(reports().size(), 1u);
      EXPECT_EQ(reports()[0].code, k.code);
      EXPECT_EQ(reports()[0].message, k.message);
      EXPECT_EQ(log, k.logged ? k.message : "");
    }
  }
}

TEST_F(HostTest, ReportsAreCutToTheBufferAndKeepPercentSigns) {
  std::string log = logOf([] { reported(kCodes, [] { throw std::runtime_error("100% " + std::string(500, 'x')); }); });
  EXPECT_EQ(log.size(), 199u);
  EXPECT_EQ(reports().at(0).message, log);
  EXPECT_NE(log.find("): 100% xxx"), std::string::npos);
}

TEST(BaseName, AfterTheLastSeparator) {
  EXPECT_STREQ(Vexa::Unity::baseName("C:\\src\\vexa_unity_interface.cpp"), "vexa_unity_interface.cpp");
  EXPECT_STREQ(Vexa::Unity::baseName("vexa_unity_interface/src/vexa_unity_interface.cpp"), "vexa_unity_interface.cpp");
  EXPECT_STREQ(Vexa::Unity::baseName("plain.cpp"), "plain.cpp");
  EXPECT_STREQ(Vexa::Unity::baseName("dir/"), "");
}

}  // namespace
}  // namespace vexa_unity_test
