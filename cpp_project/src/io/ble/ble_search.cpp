// The search: listens to scan responses for a while and lists the devices
// whose names mark them as this family's.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <map>

#include "io/ble/ble.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace {

constexpr int kPathLength = 20;
constexpr int kRecordBuffer = 50;

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool isFamilyName(const std::string& name) {
  const std::string folded = lower(name);
  return folded.find("vexa") != std::string::npos || folded.find("quillbox") != std::string::npos;
}

void commandAndAwait(COM_BLE& link, const bgapi::Bytes& bytes, int bufLen) {
  link.command(bytes);
  if (!link.awaitResponse(bufLen, link.timings().searchReplyMs)) {
    VEXA_THROW_DETAIL(Notification::InitializingPort, link.responseFailure());
  }
}

// Path to name, by path; a path seen again keeps its first name.
std::map<std::string, std::string> listen(COM_BLE& link, int ms) {
  std::map<std::string, std::string> seen;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  uint8_t record[kRecordBuffer];
  while (std::chrono::steady_clock::now() < end) {
    // Only scan records: a response read meanwhile gives its result code,
    // which is no length within the record.
    const int n = link.readScanRecord(record, sizeof record);
    if (n <= kPathLength) continue;
    seen.emplace(std::string(record, record + kPathLength), std::string(record + kPathLength, record + n));
  }
  return seen;
}

}  // namespace

std::vector<DevInfo> BLE::findDevices() { return findDevices(BleTimings()); }

std::vector<DevInfo> BLE::findDevices(const BleTimings& timings) {
  COM_BLE link(timings);
  link.setRcvTimeout(timings.linkTimeoutMs);

  uint8_t scratch[1];
  link.command(bgapi::endProcedure());
  if (link.read_ble(scratch, sizeof scratch) == kBleNothingArrived) {
    VEXA_THROW(Notification::InitializingPort);
  }
  commandAndAwait(link, bgapi::setScanParameters(), 1);
  commandAndAwait(link, bgapi::discoverGeneric(), 1);

  std::vector<DevInfo> found;
  for (const auto& [path, name] : listen(link, timings.scanMs)) {
    if (isFamilyName(name)) found.push_back(DevInfo{path, name});
  }

  commandAndAwait(link, bgapi::endProcedure(), kRecordBuffer);
  return found;
}

}  // namespace Vexa
