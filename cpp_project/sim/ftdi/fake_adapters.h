// Every fake adapter of the process, its state, the faults asked for and
// the log of calls. One lock guards it all; the device side of an open
// adapter runs on its own simulator engine thread. The vendor does not
// promise that two callers inside the libraries on one handle are safe, so
// a call that finds another one there fails with kConcurrentCall.
#ifndef VEXA_SIM_FTDI_FAKE_ADAPTERS_H_
#define VEXA_SIM_FTDI_FAKE_ADAPTERS_H_

#include <condition_variable>
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
constexpr Status kConcurrentCall = 1009;

struct Adapter {
  uint32_t flags;
  uint32_t type;
  uint32_t id;
  uint32_t chipVersion;
  std::string model;
  // While open:
  bool open = false;
  std::string openedBy;  // the copy of D2XX that knows the handle
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

  // The next call of function that enters alone waits there for another
  // caller on its handle, at most ms milliseconds.
  void holdNextCall(const std::string& function, int ms);
  // Waits at most ms for a held call to be waiting; tells whether one is.
  bool awaitHeld(int ms);
  // The next receive status count is followed by these bytes, signalled as
  // FTDI's Linux library may do it: the condition only, not its flag.
  void arriveAfterNextCount(const uint8_t* data, size_t len);
  // What the host wrote to an open adapter that plays no device.
  size_t takeWritten(int index, uint8_t* out, size_t size);

  Status createDeviceInfoList(const Caller& c, Dword* count) override;
  Status getDeviceInfoDetail(const Caller& c, Dword index, Dword* flags, Dword* type, Dword* id, Dword* location,
                             char* serial, char* description, Handle* handle) override;
  Status open(const Caller& c, int index, Handle* handle) override;
  Status setLatencyTimer(const Caller& c, Handle h, uint8_t ms) override;
  Status getStatus(const Caller& c, Handle h, Dword* rx, Dword* tx, Dword* events) override;
  Status setUsbParameters(const Caller& c, Handle h, uint32_t in, uint32_t out) override;
  Status close(const Caller& c, Handle h) override;

  Status getVersion(const Caller& c, Handle h, Vexa::ftdi::Version* version) override;
  Status spiSlaveInit(const Caller& c, Handle h) override;
  Status setClock(const Caller& c, Handle h, int clock) override;
  Status setEventNotification(const Caller& c, Handle h, uint32_t mask, void* param) override;
  Status getRxStatus(const Caller& c, Handle h, uint16_t* waiting) override;
  Status read(const Caller& c, Handle h, uint8_t* buf, uint16_t len, uint16_t* got) override;
  Status write(const Caller& c, Handle h, const uint8_t* buf, uint16_t len, uint16_t* written) override;
  Status unInitialize(const Caller& c, Handle h) override;

 private:
  struct Fault {
    Status status;
    int times;
  };
  class Entry;
  // All three need mutex_ held. record logs the call (tagged with the
  // caller's build) and tells whether it is to fail, and with which status.
  bool record(const Caller& c, const Entry& entry, const std::string& call, const char* function, Status* status);
  // The open adapter behind h, if the caller's copy of D2XX opened it.
  Adapter* find(const Caller& c, Handle h);
  // Stops the device and forgets the wire; mutex_ held.
  static void closeAdapter(Adapter& adapter);

  std::mutex mutex_;
  std::condition_variable entered_;
  std::map<Handle, int> inside_;  // callers inside the libraries, by handle
  std::string holdFunction_;
  int holdMs_ = 0;
  bool held_ = false;
  std::vector<uint8_t> lateBytes_;
  std::vector<std::unique_ptr<Adapter>> adapters_;
  std::map<std::string, Fault> faults_;
  uint16_t shortWrite_ = 0;
  std::string log_;
};

}  // namespace fake_ftdi

#endif  // VEXA_SIM_FTDI_FAKE_ADAPTERS_H_
