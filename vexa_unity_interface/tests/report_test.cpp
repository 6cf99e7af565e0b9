// The catch-and-report wrapper: log lines, codes and the shared buffer.
#include <stdexcept>

#include "host.h"
#include "report.h"

namespace vexa_unity_test {
namespace {

using Vexa::Unity::ExportCodes;
using Vexa::Unity::reported;

constexpr ExportCodes kCodes = {30, 791, 31, 797, 32, 803, 815};

TEST_F(HostTest, EachKindOfFailure) {
  struct Row {
    std::function<void()> body;
    int code;
    std::string line;
  } rows[] = {
      {[] { VEXA_THROW(Vexa::Notification::ContactingDevice, "f"); }, 30,
       "VEXA Notification Exception at line number 791 in file vexa_unity_interface.cpp (v20220517): The "
       "communication with the device was lost.\n"},
      {[] { VEXA_THROW(Vexa::Error::InvalidOperation, "f", -5); }, 31,
       "VEXA Error Exception at line number 797 in file vexa_unity_interface.cpp (v20220517): Invalid operation "
       "on current device state (code -5).\n"},
      {[] { throw std::runtime_error("boom"); }, 32,
       "C++ Exception at line number 803 in file vexa_unity_interface.cpp (v20220517): boom\n"},
      {[] { throw 42; }, -1, "Not recognized exception at line number 815 in file vexa_unity_interface.cpp (v20220517).\n"},
      // The root of the library's tree belongs to neither branch.
      {[] { VEXA_THROW(Vexa::Exception, "f"); }, -1,
       "Not recognized exception at line number 815 in file vexa_unity_interface.cpp (v20220517).\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    seen().reports.clear();
    std::string log = logOf([&] { reported(kCodes, row.body); });
    EXPECT_EQ(log, row.line);
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_EQ(reports()[0].code, row.code);
    EXPECT_EQ(reports()[0].message, row.line);
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
