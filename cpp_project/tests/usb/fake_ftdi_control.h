// Drives the fake FTDI libraries from a test: loads the fake D2XX library
// by path (the transport's own loading then finds the same module) and
// resolves its FakeFtdi_* controls.
#ifndef VEXA_TESTS_USB_FAKE_FTDI_CONTROL_H_
#define VEXA_TESTS_USB_FAKE_FTDI_CONTROL_H_

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "fake_ftdi.h"
#include "io/usb/ftdi_api.h"
#include "io/usb/ftdi_libraries.h"
#include "io/usb/shared_library.h"

namespace vexa_test {

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

inline std::string fakePath(const std::string& relative) { return std::string(FAKE_FTDI_DIR) + "/" + relative; }

// The three fakes by absolute path.
inline Vexa::FtdiFiles fakeFiles() {
  return {fakePath(kD2xxName), fakePath(kFt4222Name), std::string(FAKE_FTDI_DIR) + kFt4222AbPath};
}

class FakeFtdi {
 public:
  FakeFtdi() {
    library_ = Vexa::SharedLibrary::open(fakePath(kD2xxName), Vexa::SharedLibrary::Lifetime::kObject);
    if (!library_) throw std::runtime_error("fake D2XX library not found");
    resolve(reset_, "FakeFtdi_Reset");
    resolve(add_, "FakeFtdi_AddAdapter");
    resolve(fail_, "FakeFtdi_FailCall");
    resolve(shorten_, "FakeFtdi_ShortenNextWrite");
    resolve(log_, "FakeFtdi_Log");
    resolve(openCount_, "FakeFtdi_OpenCount");
    reset_();
  }
  ~FakeFtdi() { reset_(); }

  // A free FT4222H adapter (or any listing the test chooses).
  int addAdapter(const char* model = "current", uint32_t chip = kRevC, uint32_t flags = kFreeHighSpeed,
                 uint32_t type = Vexa::ftdi::kTypeFt4222H, uint32_t id = Vexa::ftdi::kAdapterId) {
    return add_(flags, type, id, chip, model);
  }
  void failCall(const char* function, int times = -1, uint32_t status = 4) { fail_(function, status, times); }
  void shortenNextWrite(uint16_t missing) { shorten_(missing); }
  int openCount() { return openCount_(); }
  std::vector<std::string> log() {
    std::string text(log_(nullptr, 0) + 1, '\0');
    log_(&text[0], text.size());
    std::vector<std::string> lines;
    std::istringstream in(text.c_str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // The calls logged since the last clear, then starts a new record.
  std::vector<std::string> takeLog() {
    std::vector<std::string> all = log();
    std::vector<std::string> fresh(all.begin() + static_cast<std::ptrdiff_t>(seen_), all.end());
    seen_ = all.size();
    return fresh;
  }
  int count(const std::string& call) {
    int n = 0;
    for (const std::string& line : log()) n += line == call ? 1 : 0;
    return n;
  }

 private:
  template <class Fn>
  void resolve(Fn& fn, const char* name) {
    fn = reinterpret_cast<Fn>(library_->symbol(name));
    if (fn == nullptr) throw std::runtime_error(name);
  }

  std::unique_ptr<Vexa::SharedLibrary> library_;
  void (*reset_)();
  int (*add_)(uint32_t, uint32_t, uint32_t, uint32_t, const char*);
  void (*fail_)(const char*, uint32_t, int);
  void (*shorten_)(uint16_t);
  size_t (*log_)(char*, size_t);
  int (*openCount_)();
  size_t seen_ = 0;
};

}  // namespace vexa_test

#endif  // VEXA_TESTS_USB_FAKE_FTDI_CONTROL_H_
