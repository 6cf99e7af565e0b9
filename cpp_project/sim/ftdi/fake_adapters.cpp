#include "fake_adapters.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>

#include "vexa_sim/cadrium_model.h"
#include "vexa_sim/current_device_model.h"
#include "vexa_sim/quillbox_model.h"

namespace fake_ftdi {
namespace {

constexpr Vexa::ftdi::Dword kLibraryVersion = 0x01040400;

std::unique_ptr<vexa_sim::DeviceModel> makeModel(const std::string& kind) {
  if (kind == "current") return std::make_unique<vexa_sim::CurrentDeviceModel>();
  if (kind == "quillbox") return std::make_unique<vexa_sim::QuillboxModel>();
  if (kind == "cadrium") return std::make_unique<vexa_sim::CadriumModel>();
  return nullptr;
}

}  // namespace

// A caller inside the libraries on one handle, from entry to return; a
// call without a handle (null) is not counted.
class Adapters::Entry {
 public:
  Entry(Adapters& adapters, Handle h, const char* function) : adapters_(adapters), h_(h) {
    if (h == nullptr) return;
    std::unique_lock<std::mutex> lock(adapters.mutex_);
    alone_ = ++adapters.inside_[h] == 1;
    adapters.entered_.notify_all();
    if (alone_ && adapters.holdFunction_ == function) {
      adapters.holdFunction_.clear();
      adapters.held_ = true;
      adapters.entered_.notify_all();
      adapters.entered_.wait_for(lock, std::chrono::milliseconds(adapters.holdMs_),
                                 [&] { return adapters.inside_[h] > 1; });
    }
  }
  ~Entry() {
    if (h_ == nullptr) return;
    std::lock_guard<std::mutex> lock(adapters_.mutex_);
    if (--adapters_.inside_[h_] == 0) adapters_.inside_.erase(h_);
  }
  Entry(const Entry&) = delete;
  Entry& operator=(const Entry&) = delete;
  bool alone() const { return alone_; }

 private:
  Adapters& adapters_;
  Handle h_;
  bool alone_ = true;
};

Adapters& Adapters::instance() {
  static Adapters adapters;
  return adapters;
}

void Adapters::reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& adapter : adapters_) closeAdapter(*adapter);
  adapters_.clear();
  faults_.clear();
  shortWrite_ = 0;
  log_.clear();
  holdFunction_.clear();
  held_ = false;
  lateBytes_.clear();
}

int Adapters::add(uint32_t flags, uint32_t type, uint32_t id, uint32_t chipVersion, const std::string& model) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto adapter = std::make_unique<Adapter>();
  adapter->flags = flags;
  adapter->type = type;
  adapter->id = id;
  adapter->chipVersion = chipVersion;
  adapter->model = model;
  adapters_.push_back(std::move(adapter));
  return static_cast<int>(adapters_.size()) - 1;
}

void Adapters::failCall(const std::string& function, Status status, int times) {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_[function] = Fault{status, times};
}

void Adapters::shortenNextWrite(uint16_t missing) {
  std::lock_guard<std::mutex> lock(mutex_);
  shortWrite_ = missing;
}

std::string Adapters::log() {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

int Adapters::openCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  int count = 0;
  for (const auto& adapter : adapters_) count += adapter->open ? 1 : 0;
  return count;
}

void Adapters::holdNextCall(const std::string& function, int ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  holdFunction_ = function;
  holdMs_ = ms;
  held_ = false;
}

bool Adapters::awaitHeld(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return entered_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return held_; });
}

void Adapters::arriveAfterNextCount(const uint8_t* data, size_t len) {
  std::lock_guard<std::mutex> lock(mutex_);
  lateBytes_.assign(data, data + len);
}

size_t Adapters::takeWritten(int index, uint8_t* out, size_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (index < 0 || static_cast<size_t>(index) >= adapters_.size()) return 0;
  Adapter& adapter = *adapters_[static_cast<size_t>(index)];
  if (!adapter.wire || adapter.engine) return 0;
  return static_cast<size_t>(adapter.wire->deviceRead(out, static_cast<int>(std::min<size_t>(size, INT_MAX)),
                                                      std::chrono::milliseconds(0)));
}

bool Adapters::record(const Caller& c, const Entry& entry, const std::string& call, const char* function,
                      Status* status) {
  if (c.build[0] != '\0') log_ += std::string(c.build) + ":";
  log_ += call;
  log_ += '\n';
  if (!entry.alone()) {
    *status = kConcurrentCall;
    return true;
  }
  auto fault = faults_.find(function);
  if (fault == faults_.end() || fault->second.times == 0) return false;
  if (fault->second.times > 0) --fault->second.times;
  *status = fault->second.status;
  return true;
}

Adapter* Adapters::find(const Caller& c, Handle h) {
  for (auto& adapter : adapters_) {
    if (adapter.get() == h && adapter->open && adapter->openedBy == c.d2xx) return adapter.get();
  }
  return nullptr;
}

void Adapters::closeAdapter(Adapter& adapter) {
  // Joins the engine's thread: no signal reaches the host after this.
  adapter.engine.reset();
  adapter.wire.reset();
  adapter.open = false;
  adapter.openedBy.clear();
  adapter.spiSlave = false;
}

// Calls without a handle.

Status Adapters::createDeviceInfoList(const Caller& c, Dword* count) {
  Entry entry(*this, nullptr, "FT_CreateDeviceInfoList");
  std::lock_guard<std::mutex> lock(mutex_);
  Status status;
  if (record(c, entry, "FT_CreateDeviceInfoList", "FT_CreateDeviceInfoList", &status)) return status;
  if (count == nullptr) return kInvalidParameter;
  *count = static_cast<Dword>(adapters_.size());
  return Vexa::ftdi::kOk;
}

Status Adapters::getDeviceInfoDetail(const Caller& c, Dword index, Dword* flags, Dword* type, Dword* id,
                                     Dword* location, char* serial, char* description, Handle* handle) {
  Entry entry(*this, nullptr, "FT_GetDeviceInfoDetail");
  std::lock_guard<std::mutex> lock(mutex_);
  Status status;
  if (record(c, entry, "FT_GetDeviceInfoDetail " + std::to_string(index), "FT_GetDeviceInfoDetail", &status)) {
    return status;
  }
  if (index >= adapters_.size()) return kDeviceNotFound;
  const Adapter& adapter = *adapters_[index];
  *flags = adapter.flags | (adapter.open ? Vexa::ftdi::kFlagOpened : 0);
  *type = adapter.type;
  *id = adapter.id;
  *location = index + 1;
  std::snprintf(serial, 16, "FAKE%04u", static_cast<unsigned>(index));
  std::snprintf(description, 64, "FT4222 fake %u", static_cast<unsigned>(index));
  *handle = adapter.open ? adapters_[index].get() : nullptr;
  return Vexa::ftdi::kOk;
}

Status Adapters::open(const Caller& c, int index, Handle* handle) {
  Entry entry(*this, nullptr, "FT_Open");
  std::lock_guard<std::mutex> lock(mutex_);
  Status status;
  if (record(c, entry, "FT_Open " + std::to_string(index), "FT_Open", &status)) return status;
  if (index < 0 || static_cast<size_t>(index) >= adapters_.size()) return kDeviceNotFound;
  Adapter& adapter = *adapters_[static_cast<size_t>(index)];
  if (adapter.open) return kDeviceNotOpened;
  adapter.open = true;
  adapter.openedBy = c.d2xx;
  adapter.wire = std::make_shared<Wire>();
  if (auto model = makeModel(adapter.model)) {
    adapter.engine = std::make_unique<vexa_sim::Engine>(std::make_unique<WireLink>(adapter.wire), std::move(model));
  }
  *handle = &adapter;
  return Vexa::ftdi::kOk;
}

// Calls on an open handle.

Status Adapters::setLatencyTimer(const Caller& c, Handle h, uint8_t ms) {
  Entry entry(*this, h, "FT_SetLatencyTimer");
  std::lock_guard<std::mutex> lock(mutex_);
  Status status;
  if (record(c, entry, "FT_SetLatencyTimer " + std::to_string(ms), "FT_SetLatencyTimer", &status)) return status;
  return find(c, h) ? Vexa::ftdi::kOk : kInvalidHandle;
}

Status Adapters::getStatus(const Caller& c, Handle h, Dword* rx, Dword* tx, Dword* events) {
  Entry entry(*this, h, "FT_GetStatus");
  std::lock_guard<std::mutex> lock(mutex_);
  Status status;
  if (record(c, entry, "FT_GetStatus", "FT_GetStatus", &status)) return status;
  Adapter* adapter = find(c, h);
  if (adapter == nullptr) return kInvalidHandle;
  *rx = static_cast<Dword>(adapter->wire->waiting());
  *tx = 0;
  *events = 0;
  return Vexa::ftdi::kOk;
}

Status Adapters::setUsbParameters(const Caller& c, Handle h, uint32_t in, uint32_t out) {
  Entry entry(*this, h, "FT_SetUSBParameters");
  std::lock_guard<std::mutex> lock(mutex_);
  Status status;
  if (record(c, entry, "FT_SetUSBParameters " + std::to_string(in) + " " + std::to_string(out),
             "FT_SetUSBParameters", &status)) {
    return status;
  }
  return find(c, h) ? Vexa::ftdi::kOk : kInvalidHandle;
}

Status Adapters::close(const Caller& c, Handle h) {
  Entry entry(*this, h, "FT_Close");
  std::lock_guard<std::mutex> lock(mutex_);
  Status status;
  if (record(c, entry, "FT_Close", "FT_Close", &status)) return status;
  Adapter* adapter = find(c, h);
  if (adapter == nullptr) return kInvalidHandle;
  closeAdapter(*adapter);
  return Vexa::ftdi::kOk;
}

Status Adapters::getVersion(const Caller& c, Handle h, Vexa::ftdi::Version* version) {
  Entry entry(*this, h, "FT4222_GetVersion");
  std::lock_guard<std::mutex> lock(mutex_);
  Status status;
  if (record(c, entry, "FT4222_GetVersion", "FT4222_GetVersion", &status)) return status;
  Adapter* adapter = find(c, h);
  if (adapter == nullptr) return kInvalidHandle;
  version->chipVersion = adapter->chipVersion;
  version->dllVersion = kLibraryVersion;
  return Vexa::ftdi::kOk;
}

Status Adapters::spiSlaveInit(const Caller& c, Handle h) {
  Entry entry(*this, h, "FT4222_SPISlave_Init");
  std::lock_guard<std::mutex> lock(mutex_);
  Status status;
  if (record(c, entry, "FT4222_SPISlave_Init", "FT4222_SPISlave_Init", &status)) return status;
  Adapter* adapter = find(c, h);
  if (adapter == nullptr) return kInvalidHandle;
  adapter->spiSlave = true;
  return Vexa::ftdi::kOk;
}

Status Adapters::setClock(const Caller& c, Handle h, int clock) {
  Entry entry(*this, h, "FT4222_SetClock");
  std::lock_guard<std::mutex> lock(mutex_);
  Status status;
  if (record(c, entry, "FT4222_SetClock " + std::to_string(clock), "FT4222_SetClock", &status)) return status;
  return find(c, h) ? Vexa::ftdi::kOk : kInvalidHandle;
}

Status Adapters::setEventNotification(const Caller& c, Handle h, uint32_t mask, void* param) {
  Entry entry(*this, h, "FT4222_SetEventNotification");
  std::lock_guard<std::mutex> lock(mutex_);
  Status status;
  if (record(c, entry, "FT4222_SetEventNotification " + std::to_string(mask), "FT4222_SetEventNotification",
             &status)) {
    return status;
  }
  Adapter* adapter = find(c, h);
  if (adapter == nullptr) return kInvalidHandle;
  adapter->wire->setEvent(mask, param);
  return Vexa::ftdi::kOk;
}

Status Adapters::getRxStatus(const Caller& c, Handle h, uint16_t* waiting) {
  Entry entry(*this, h, "FT4222_SPISlave_GetRxStatus");
  std::lock_guard<std::mutex> lock(mutex_);
  Status status;
  if (record(c, entry, "FT4222_SPISlave_GetRxStatus", "FT4222_SPISlave_GetRxStatus", &status)) return status;
  Adapter* adapter = find(c, h);
  if (adapter == nullptr) return kInvalidHandle;
  if (!adapter->spiSlave) return kNotSpiSlave;
  const size_t n = adapter->wire->waiting();
  *waiting = static_cast<uint16_t>(n > 0xFFFF ? 0xFFFF : n);
  if (!lateBytes_.empty()) {
    adapter->wire->deliver(lateBytes_.data(), lateBytes_.size(), false);
    lateBytes_.clear();
  }
  return Vexa::ftdi::kOk;
}

Status Adapters::read(const Caller& c, Handle h, uint8_t* buf, uint16_t len, uint16_t* got) {
  Entry entry(*this, h, "FT4222_SPISlave_Read");
  std::lock_guard<std::mutex> lock(mutex_);
  Status status;
  if (record(c, entry, "FT4222_SPISlave_Read " + std::to_string(len), "FT4222_SPISlave_Read", &status)) {
    return status;
  }
  Adapter* adapter = find(c, h);
  if (adapter == nullptr) return kInvalidHandle;
  if (!adapter->spiSlave) return kNotSpiSlave;
  *got = static_cast<uint16_t>(adapter->wire->hostRead(buf, len));
  return Vexa::ftdi::kOk;
}

Status Adapters::write(const Caller& c, Handle h, const uint8_t* buf, uint16_t len, uint16_t* written) {
  Entry entry(*this, h, "FT4222_SPISlave_Write");
  std::lock_guard<std::mutex> lock(mutex_);
  Status status;
  if (record(c, entry, "FT4222_SPISlave_Write " + std::to_string(len), "FT4222_SPISlave_Write", &status)) {
    return status;
  }
  Adapter* adapter = find(c, h);
  if (adapter == nullptr) return kInvalidHandle;
  if (!adapter->spiSlave) return kNotSpiSlave;
  const uint16_t taken = shortWrite_ < len ? static_cast<uint16_t>(len - shortWrite_) : 0;
  shortWrite_ = 0;
  adapter->wire->hostWrite(buf, taken);
  *written = taken;
  return Vexa::ftdi::kOk;
}

Status Adapters::unInitialize(const Caller& c, Handle h) {
  Entry entry(*this, h, "FT4222_UnInitialize");
  std::lock_guard<std::mutex> lock(mutex_);
  Status status;
  if (record(c, entry, "FT4222_UnInitialize", "FT4222_UnInitialize", &status)) return status;
  Adapter* adapter = find(c, h);
  if (adapter == nullptr) return kInvalidHandle;
  adapter->spiSlave = false;
  return Vexa::ftdi::kOk;
}

}  // namespace fake_ftdi
