// Searches through the Linux kernel's HCI sockets: an inquiry on the first
// radio that is up, then a remote name request for each device found. Both
// are open to unprivileged users, as for any Bluetooth settings panel.
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "io/bth/bth_platform.h"
#include "io/bth/bth_search.h"
#include "vexa/cancel.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace bth {
namespace {

// The kernel's HCI socket interface, declared here so that no Bluetooth
// library or its headers are needed.
constexpr int kHciProtocol = 1;
constexpr int kHciSocketLevel = 0;
constexpr int kHciFilterOption = 2;
const unsigned long kGetDeviceList = _IOR('H', 210, int);
const unsigned long kInquiry = _IOR('H', 240, int);
constexpr uint32_t kDeviceUp = 1;  // bit 0 of a device's flags
constexpr int kMaxDevices = 16;

struct DeviceRequest {
  uint16_t id;
  uint32_t options;
};
struct DeviceList {
  uint16_t count;
  DeviceRequest devices[kMaxDevices];
};

struct HciAddress {
  sa_family_t family;
  uint16_t device;
  uint16_t channel;  // 0: raw
};

struct HciFilter {
  uint32_t typeMask;
  uint32_t eventMask[2];
  uint16_t opcode;
};

// Inquiry request: device, flags, access code, length in 1.28 s units,
// answers wanted; the answers follow, 14 bytes each.
constexpr size_t kInquiryHeader = 10;
constexpr size_t kInquiryAnswer = 14;
constexpr uint8_t kMaxAnswers = 255;
constexpr uint8_t kInquiryLength = 5;       // 6.4 s
constexpr uint16_t kFlushCache = 1;
constexpr uint8_t kGeneralAccess[3] = {0x33, 0x8B, 0x9E};

constexpr uint8_t kCommandPacket = 0x01;
constexpr uint8_t kEventPacket = 0x04;
constexpr uint16_t kRemoteNameRequest = 0x0419;  // link control group, command 0x19
constexpr uint8_t kCommandStatusEvent = 0x0F;
constexpr uint8_t kRemoteNameEvent = 0x07;
constexpr size_t kNameSize = 248;
// A device that does not answer is given up after the controller's own
// page time-out and some margin.
constexpr std::chrono::seconds kNameTimeout{15};

uint64_t addressAt(const uint8_t* p) {
  uint64_t address = 0;
  for (int i = 5; i >= 0; --i) address = address << 8 | p[i];
  return address;
}

class LinuxRadio : public Radio {
 public:
  explicit LinuxRadio(int fd) : fd_(fd) {}
  ~LinuxRadio() override { close(fd_); }

  // Binds the socket to one radio, so that it also carries name requests.
  bool bindTo(uint16_t device) {
    HciAddress address{AF_BLUETOOTH, device, 0};
    if (bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return false;
    device_ = device;
    return true;
  }

  void inquire(SearchState& state) override {
    std::vector<uint8_t> request(kInquiryHeader + kMaxAnswers * kInquiryAnswer, 0);
    std::memcpy(&request[0], &device_, 2);
    std::memcpy(&request[2], &kFlushCache, 2);
    std::memcpy(&request[4], kGeneralAccess, 3);
    request[7] = kInquiryLength;
    request[8] = kMaxAnswers;
    if (ioctl(fd_, kInquiry, request.data()) < 0) {
      if (errno == ENETDOWN || errno == ENODEV) VEXA_THROW(Notification::AdapterNotFound);
      VEXA_THROW(Notification::InitializingPort);
    }
    const size_t answers = request[8];
    for (size_t i = 0; i < answers && i < kMaxAnswers; ++i) {
      // The inquiry carries no names: each one is asked for afterwards.
      state.onInRange(addressAt(&request[kInquiryHeader + i * kInquiryAnswer]), nullptr);
    }
  }

  // The kernel's answer is final: a failed request or an empty name gives
  // nullopt, so the search does not ask again.
  std::optional<std::string> queryName(uint64_t address) override {
    HciFilter filter{};
    filter.typeMask = 1u << kEventPacket;
    filter.eventMask[0] = 1u << kCommandStatusEvent | 1u << kRemoteNameEvent;
    if (setsockopt(fd_, kHciSocketLevel, kHciFilterOption, &filter, sizeof filter) != 0) return std::nullopt;

    uint8_t command[14] = {kCommandPacket, kRemoteNameRequest & 0xFF, kRemoteNameRequest >> 8, 10};
    for (int i = 0; i < 6; ++i) command[4 + i] = static_cast<uint8_t>(address >> (8 * i));
    command[10] = 0x02;  // page scan repetition mode R2, the safe default
    if (write(fd_, command, sizeof command) != static_cast<ssize_t>(sizeof command)) return std::nullopt;
    return awaitName(address);
  }

 private:
  std::optional<std::string> awaitName(uint64_t address) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + kNameTimeout;
    uint8_t event[3 + 255];
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return std::nullopt;
      // Inside a cancellable search the wait goes in slices.
      throwIfCancelled("Vexa::bth::LinuxRadio::awaitName");
      const int slice = cancelSlice(static_cast<int>(left));
      pollfd pfd{fd_, POLLIN, 0};
      const int ready = poll(&pfd, 1, slice);
      if (ready < 0 && errno == EINTR) continue;
      if (ready == 0 && slice != left) continue;
      if (ready <= 0) return std::nullopt;
      const ssize_t n = read(fd_, event, sizeof event);
      if (n < 0 && errno == EINTR) continue;
      if (n < 3 || event[0] != kEventPacket) return std::nullopt;
      const uint8_t* body = event + 3;
      const size_t size = static_cast<size_t>(n) - 3;
      if (event[1] == kCommandStatusEvent && size >= 4 && (body[2] | body[3] << 8) == kRemoteNameRequest) {
        if (body[0] != 0) return std::nullopt;  // the controller refused the request
      } else if (event[1] == kRemoteNameEvent && size >= 7 && addressAt(body + 1) == address) {
        if (body[0] != 0) return std::nullopt;
        const char* name = reinterpret_cast<const char*>(body + 7);
        const std::string text(name, strnlen(name, std::min(kNameSize, size - 7)));
        if (text.empty()) return std::nullopt;
        return text;
      }
    }
  }

  int fd_;
  uint16_t device_ = 0;
};

}  // namespace

std::unique_ptr<Radio> openRadio() {
  const int fd = socket(AF_BLUETOOTH, SOCK_RAW | SOCK_CLOEXEC, kHciProtocol);
  if (fd < 0) {
    if (errno == EAFNOSUPPORT) VEXA_THROW(Notification::AdapterNotFound);
    VEXA_THROW(Notification::InitializingPort);
  }
  std::unique_ptr<LinuxRadio> radio;
  try {
    radio = std::make_unique<LinuxRadio>(fd);
  } catch (...) {
    close(fd);
    throw;
  }
  DeviceList list{};
  list.count = kMaxDevices;
  if (ioctl(fd, kGetDeviceList, &list) < 0) VEXA_THROW(Notification::InitializingPort);
  for (int i = 0; i < list.count && i < kMaxDevices; ++i) {
    if ((list.devices[i].options & kDeviceUp) == 0) continue;
    if (!radio->bindTo(list.devices[i].id)) VEXA_THROW(Notification::InitializingPort);
    return radio;
  }
  // No radio, or none switched on.
  VEXA_THROW(Notification::AdapterNotFound);
}

}  // namespace bth
}  // namespace Vexa
