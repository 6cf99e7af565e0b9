#include "io/usb/ftdi_libraries.h"

#include "vexa/exceptions.h"
#include "vexa/log.h"

namespace Vexa {
namespace {

template <class Fn>
void fill(Fn& entry, const SharedLibrary& module, const std::string& file, const char* function) {
  entry = reinterpret_cast<Fn>(getProc(module, file, function));
}

}  // namespace

void* getProc(const SharedLibrary& module, const std::string& file, const char* function) {
  void* address = module.symbol(function);
  if (address == nullptr) VEXA_THROW(Error::MissingModule, file + ":" + function);
  return address;
}

std::shared_ptr<SharedLibrary> openFtdiLibrary(const std::string& folder, const std::string& file,
                                               SharedLibrary::Lifetime lifetime) {
  std::shared_ptr<SharedLibrary> library;
  if (!folder.empty() && file.find_first_of("/\\") == std::string::npos) {
    const char last = folder.back();
    library = SharedLibrary::open(last == '/' || last == '\\' ? folder + file : folder + '/' + file, lifetime);
  }
  if (!library) library = SharedLibrary::open(file, lifetime);
  if (library && logEnabled(LogLevel::kDebug)) logMessage(LogLevel::kDebug, file + " loaded from " + library->path());
  return library;
}

void Ftd2xxDll::load(const std::string& folder, const std::string& file, SharedLibrary::Lifetime lifetime) {
  std::shared_ptr<SharedLibrary> library = openFtdiLibrary(folder, file, lifetime);
  if (!library) VEXA_THROW(Error::MissingModule, file);
  fillFrom(std::move(library), file);
}

bool Ftd2xxDll::loadEmbedded(const std::shared_ptr<SharedLibrary>& library, const std::string& file) {
  if (library->symbol("FT_Open") == nullptr) return false;
  fillFrom(library, file);
  return true;
}

void Ftd2xxDll::fillFrom(std::shared_ptr<SharedLibrary> library, const std::string& file) {
  // Filled aside, so that a missing entry leaves this table untouched.
  Ftd2xxDll table;
  fill(table.createDeviceInfoList, *library, file, "FT_CreateDeviceInfoList");
  fill(table.getDeviceInfoDetail, *library, file, "FT_GetDeviceInfoDetail");
  fill(table.open, *library, file, "FT_Open");
  fill(table.setLatencyTimer, *library, file, "FT_SetLatencyTimer");
  fill(table.getStatus, *library, file, "FT_GetStatus");
  fill(table.setUsbParameters, *library, file, "FT_SetUSBParameters");
  fill(table.close, *library, file, "FT_Close");
  table.module = std::move(library);
  *this = std::move(table);
}

void USB::FT4222Dll::load(const std::string& folder, const std::string& file, SharedLibrary::Lifetime lifetime) {
  std::shared_ptr<SharedLibrary> library = openFtdiLibrary(folder, file, lifetime);
  if (!library) VEXA_THROW(Error::MissingModule, file);
  FT4222Dll table;
  fill(table.getVersion, *library, file, "FT4222_GetVersion");
  fill(table.spiSlaveInit, *library, file, "FT4222_SPISlave_Init");
  fill(table.setClock, *library, file, "FT4222_SetClock");
  fill(table.setEventNotification, *library, file, "FT4222_SetEventNotification");
  fill(table.getRxStatus, *library, file, "FT4222_SPISlave_GetRxStatus");
  fill(table.spiSlaveRead, *library, file, "FT4222_SPISlave_Read");
  fill(table.spiSlaveWrite, *library, file, "FT4222_SPISlave_Write");
  fill(table.unInitialize, *library, file, "FT4222_UnInitialize");
  table.module = std::move(library);
  *this = std::move(table);
}

FtdiFiles systemFtdiFiles() {
#ifdef _WIN32
  return {"FTD2XX.dll", "LibFT4222-64.dll", "LibFT4222AB-64.dll", SharedLibrary::ownFolder()};
#else
  // FTDI ships one LibFT4222 build for Linux, serving every chip revision.
  return {"libftd2xx.so", "libft4222.so", "libft4222.so", SharedLibrary::ownFolder()};
#endif
}

FtdiLibraries::FtdiLibraries(FtdiFiles files, SharedLibrary::Lifetime lifetime)
    : files_(std::move(files)), lifetime_(lifetime) {}

FtdiLibraries& FtdiLibraries::process() {
  static FtdiLibraries libraries(systemFtdiFiles(), SharedLibrary::Lifetime::kProcess);
  return libraries;
}

void FtdiLibraries::load() {
  std::lock_guard<std::mutex> lock(mutex_);
  // D2XX first: Windows' LibFT4222 imports FTD2XX.dll and so gets the one
  // already loaded from the folder.
  if (!d2xx.loaded()) d2xx.load(files_.folder, files_.d2xx, lifetime_);
  if (!ft4222.loaded()) {
    USB::FT4222Dll table;
    table.load(files_.folder, files_.ft4222, lifetime_);
    // Linux's LibFT4222 carries its own copy of D2XX, which knows only the
    // handles it opened itself: every FT4222 call would refuse a handle
    // from the separate D2XX library. Its FT_* functions are used whenever
    // it has them; nothing has been opened through the other table yet.
    d2xx.loadEmbedded(table.module, files_.ft4222);
    ft4222 = std::move(table);
  }
  if (!ft4222ab.loaded()) ft4222ab.load(files_.folder, files_.ft4222ab, lifetime_);
}

}  // namespace Vexa
