// The tables of FTDI entry points, filled from the libraries by name. Once
// a table is filled it stays so: the process-wide libraries are never
// unloaded.
#ifndef VEXA_SRC_IO_USB_FTDI_LIBRARIES_H_
#define VEXA_SRC_IO_USB_FTDI_LIBRARIES_H_

#include <memory>
#include <mutex>
#include <string>

#include "io/usb/ftdi_api.h"
#include "io/usb/shared_library.h"
#include "io/usb/usb.h"

namespace Vexa {

// Looks a function up by name, or throws Error::MissingModule naming
// "file:function".
void* getProc(const SharedLibrary& module, const std::string& file, const char* function);

// Loads file: a name from folder first (when there is one), then from
// where the system looks; a path as it is. Null when neither loads.
std::shared_ptr<SharedLibrary> openFtdiLibrary(const std::string& folder, const std::string& file,
                                               SharedLibrary::Lifetime lifetime);

// The D2XX library: adapter list, open, USB set-up, status, close.
struct Ftd2xxDll {
  // Loads file (as openFtdiLibrary does) and looks up every entry, or
  // throws Error::MissingModule and leaves the table as it was.
  void load(const std::string& folder, const std::string& file, SharedLibrary::Lifetime lifetime);
  // Takes every entry from a library that carries its own D2XX (it has
  // FT_Open) and tells so; false, table untouched, when it has none.
  // Throws Error::MissingModule when it has FT_Open but lacks another.
  bool loadEmbedded(const std::shared_ptr<SharedLibrary>& library, const std::string& file);
  bool loaded() const { return close != nullptr; }

  ftdi::CreateDeviceInfoListFn createDeviceInfoList = nullptr;
  ftdi::GetDeviceInfoDetailFn getDeviceInfoDetail = nullptr;
  ftdi::OpenFn open = nullptr;
  ftdi::SetLatencyTimerFn setLatencyTimer = nullptr;
  ftdi::GetStatusFn getStatus = nullptr;
  ftdi::SetUsbParametersFn setUsbParameters = nullptr;
  ftdi::CloseFn close = nullptr;
  std::shared_ptr<SharedLibrary> module;

 private:
  void fillFrom(std::shared_ptr<SharedLibrary> library, const std::string& file);
};

// One LibFT4222 build: version, SPI slave mode, clock, event, transfers.
struct USB::FT4222Dll {
  void load(const std::string& folder, const std::string& file, SharedLibrary::Lifetime lifetime);
  bool loaded() const { return unInitialize != nullptr; }

  ftdi::GetVersionFn getVersion = nullptr;
  ftdi::SpiSlaveInitFn spiSlaveInit = nullptr;
  ftdi::SetClockFn setClock = nullptr;
  ftdi::SetEventNotificationFn setEventNotification = nullptr;
  ftdi::GetRxStatusFn getRxStatus = nullptr;
  ftdi::SpiSlaveReadFn spiSlaveRead = nullptr;
  ftdi::SpiSlaveWriteFn spiSlaveWrite = nullptr;
  ftdi::UnInitializeFn unInitialize = nullptr;
  std::shared_ptr<SharedLibrary> module;
};

// Where the three libraries are found: file names, or paths.
struct FtdiFiles {
  std::string d2xx;
  std::string ft4222;    // chips of revision C and later
  std::string ft4222ab;  // chips of revisions A and B
  // Where names are looked for before the system's search; empty: nowhere.
  std::string folder;
};

// The system's file names for this platform, looked for first beside the
// plug-in (the folder holding this code).
FtdiFiles systemFtdiFiles();

class FtdiLibraries {
 public:
  // Libraries that this object unloads when it goes.
  explicit FtdiLibraries(FtdiFiles files, SharedLibrary::Lifetime lifetime = SharedLibrary::Lifetime::kObject);
  // The system's libraries, loaded once for the life of the process.
  static FtdiLibraries& process();

  // Loads whatever is not loaded yet: D2XX, then both LibFT4222 builds.
  // Throws Error::MissingModule for the first library or function missing.
  // When the first LibFT4222 build has D2XX inside, d2xx is taken from it.
  void load();

  Ftd2xxDll d2xx;
  USB::FT4222Dll ft4222;
  USB::FT4222Dll ft4222ab;

 private:
  FtdiFiles files_;
  SharedLibrary::Lifetime lifetime_;
  std::mutex mutex_;
};

}  // namespace Vexa

#endif  // VEXA_SRC_IO_USB_FTDI_LIBRARIES_H_
