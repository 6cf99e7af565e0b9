// Every fake adapter of the process, its state, the faults asked for and
// the log of calls. One lock guards it all; the device side of an open
// adapter runs on its own simulator engine thread.
#ifndef VEXA_SIM_FTDI_FAKE_ADAPTERS_H_
#define VEXA_SIM_FTDI_FAKE_ADAPTERS_H_

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fake_hub.h"
#include "fake_wire.h"
#include "vexa_sim/engine.h"

namespace fake_ftdi {

// Statuses of our own: any non-zero value is a failure to the caller.
constexpr Status kInvalidHandle = 1;
constexpr Status kDeviceNotFound = 2;
constexpr Status kDeviceNotOpened = 3;
constexpr Status kInvalidParameter = 6;
constexpr Status kNotSpiSlave = 1008;

struct Adapter {
  uint32_t flags;
  uint32_t type;
  uint32_t id;
  uint32_t chipVersion;
  std::string model;
  // While open:
  bool open = false;
  bool spiSlave = false;
  std::shared_ptr<Wire> wire;
  std::unique_ptr<vexa_sim::Engine> engine;
};

class Adapters final : public Hub {
 public:
  static Adapters& instance();

  void reset();
  int add(uint32_t flags, uint32_t type, uint32_t id, uint32_t chipVersion, const std::string& model);
  void failCall(const std::string& function, Status status, int times);
  void shortenNextWrite(uint16_t missing);
  std::string log();
  int openCount();

  Status createDeviceInfoList(Vexa::ftdi::Dword* count);
  Status getDeviceInfoDetail(Vexa::ftdi::Dword index, Vexa::ftdi::Dword* flags, Vexa::ftdi::Dword* type,
                             Vexa::ftdi::Dword* id, Vexa::ftdi::Dword* location, char* serial, char* description,
                             Handle* handle);
  Status open(int index, Handle* handle);
  Status setLatencyTimer(Handle h, uint8_t ms);
  Status getStatus(Handle h, Vexa::ftdi::Dword* rx, Vexa::ftdi::Dword* tx, Vexa::ftdi::Dword* events);
  Status setUsbParameters(Handle h, uint32_t in, uint32_t out);
  Status close(Handle h);

  Status getVersion(const char* build, Handle h, Vexa::ftdi::Version* version) override;
  Status spiSlaveInit(const char* build, Handle h) override;
  Status setClock(const char* build, Handle h, int clock) override;
  Status setEventNotification(const char* build, Handle h, uint32_t mask, void* param) override;
  Status getRxStatus(const char* build, Handle h, uint16_t* waiting) override;
  Status read(const char* build, Handle h, uint8_t* buf, uint16_t len, uint16_t* got) override;
  Status write(const char* build, Handle h, const uint8_t* buf, uint16_t len, uint16_t* written) override;
  Status unInitialize(const char* build, Handle h) override;

 private:
  struct Fault {
    Status status;
    int times;
  };
  // Both need mutex_ held. record logs the call and tells whether it is to
  // fail, and with which status.
  bool record(const std::string& call, const char* function, Status* status);
  Adapter* find(Handle h);
  // Stops the device and forgets the wire; mutex_ held.
  static void closeAdapter(Adapter& adapter);

  std::mutex mutex_;
  std::vector<std::unique_ptr<Adapter>> adapters_;
  std::map<std::string, Fault> faults_;
  uint16_t shortWrite_ = 0;
  std::string log_;
};

}  // namespace fake_ftdi

#endif  // VEXA_SIM_FTDI_FAKE_ADAPTERS_H_
