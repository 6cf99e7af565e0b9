#include "vexa/exceptions.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "vexa/cancel.h"

namespace Vexa {
namespace {

// Each exception's description, after the branch that catches it (those
// the exported interface reports are checked in its report table).
TEST(Exceptions, DescriptionsAreExactAndEachBranchCatchesOnlyItsOwn) {
  const std::string loc = "here";
  struct Row {
    std::unique_ptr<Exception> e;
    std::string text;
  };
  Row rows[] = {
      {std::make_unique<ErrorException>(loc), "error: Generic VEXA exception."},
      {std::make_unique<NotifException>(loc), "notification: Generic VEXA exception."},
      {std::make_unique<Error::InvalidParameter>(loc), "error: Invalid parameter."},
      {std::make_unique<Error::InvalidOperation>(loc, 0), "error: Invalid operation on current device state (code 0)."},
      {std::make_unique<Error::InvalidOperation>(loc, 255),
       "error: Invalid operation on current device state (code 255)."},
      {std::make_unique<Error::NotSupported>(loc), "error: Operation not supported by the device."},
      {std::make_unique<Error::InvalidInstance>(loc), "error: The object instance is invalid."},
      {std::make_unique<Error::MissingModule>(loc, "FTD2XX.dll"),
       "error: The API module FTD2XX.dll is missing or invalid."},
      {std::make_unique<Error::MissingModule>(loc, ""), "error: The API module  is missing or invalid."},
      {std::make_unique<Notification::InitializingPort>(loc),
       "notification: The communication port could not be initialized."},
      {std::make_unique<Notification::AdapterNotFound>(loc), "notification: No Bluetooth adapter was found."},
      {std::make_unique<Notification::DeviceNotFound>(loc), "notification: The device could not be found."},
  };
  for (const Row& row : rows) {
    const Exception* e = row.e.get();
    const char* branch = dynamic_cast<const NotifException*>(e)  ? "notification: "
                         : dynamic_cast<const ErrorException*>(e) ? "error: "
                                                                  : "root: ";
    EXPECT_EQ(branch + e->getDescription(), row.text);
  }
}

// A cancel reaches the waits of its own scope only: not an enclosing call's
// once the inner scope has ended, not another thread's, nothing outside any
// scope, whose waits keep their whole length.
TEST(Cancel, AFlagReachesOnlyItsOwnScopeOnItsOwnThread) {
  CancelFlag outerFlag, innerFlag;
  {
    const CancelScope outer(outerFlag);
    {
      const CancelScope inner(innerFlag);
      innerFlag.raise();
      EXPECT_THROW(throwIfCancelled("inner"), Error::Cancelled);
    }
    EXPECT_NO_THROW(throwIfCancelled("outer"));
    EXPECT_EQ((std::vector<int>{cancelSlice(-1), cancelSlice(0), cancelSlice(5), cancelSlice(1000)}),
              (std::vector<int>{kCancelSliceMs, 0, 5, kCancelSliceMs}));
    outerFlag.raise();
    std::thread([] { EXPECT_FALSE(cancelRequested()); }).join();
  }
  EXPECT_FALSE(cancellable());
}

TEST(Exceptions, ThrowRecordsLocationAndFields) {
  try {
    VEXA_THROW(Error::InvalidOperation, 7);
  } catch (const Error::InvalidOperation& e) {
    EXPECT_EQ(e.code, 7);
    EXPECT_NE(e.location().find("exceptions_test.cpp:"), std::string::npos);
    // The compiler names the enclosing function.
    EXPECT_NE(e.location().find(" (Vexa::Exceptions_ThrowRecordsLocationAndFields_Test::TestBody)\n"),
              std::string::npos)
        << e.location();
  }
  EXPECT_EQ(formatLocation("io.cpp", 12, "IO::recvAll"), "io.cpp:12 (IO::recvAll)\n");
  EXPECT_EQ(formatLocation(std::string(2000, 'p').c_str(), 1, "f"), std::string(999, 'p'));  // cut at 999
}

TEST(Exceptions, FunctionNamesFromCompilerSignatures) {
  const std::pair<const char*, const char*> rows[] = {
      {"uint16_t Vexa::BaseDev::X::sendCommand(const uint8_t*, uint16_t, bool)", "Vexa::BaseDev::X::sendCommand"},
      {"Vexa::COM::COM(const std::string&)", "Vexa::COM::COM"},
      {"std::vector<Vexa::DevInfo, std::allocator<Vexa::DevInfo> > Vexa::BaseDev::findDevices(const string&)",
       "Vexa::BaseDev::findDevices"},
      {"void Vexa::{anonymous}::checkBuffer(const void*, int)", "Vexa::checkBuffer"},
      {"void Vexa::(anonymous namespace)::checkBuffer(const void *, int)", "Vexa::checkBuffer"},
      {"Vexa::SignalsX::dispatchFrames(uint16_t, const uint8_t*, uint16_t)::<lambda(int)>",
       "Vexa::SignalsX::dispatchFrames"},
      {"auto Vexa::USB::recv(void *, int)::(anonymous class)::operator()() const", "Vexa::USB::recv"},
      {"bool Vexa::Less::operator()(int, int) const", "Vexa::Less::operator()"},
      {"bool Vexa::Version::operator>(const Vexa::Version&) const", "Vexa::Version::operator>"},
      {"void Vexa::put(T) [with T = int]", "Vexa::put"},
      {"void *Vexa::getProc(const SharedLibrary &, const std::string &, const char *)", "Vexa::getProc"},
      {"const std::string &Vexa::X::path() const", "Vexa::X::path"},
      {"main", "main"},
  };
  for (const auto& row : rows) EXPECT_EQ(functionName(row.first), row.second) << row.first;
}

}  // namespace
}  // namespace Vexa
