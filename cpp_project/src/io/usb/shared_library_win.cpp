#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "io/usb/shared_library.h"

namespace Vexa {

std::unique_ptr<SharedLibrary> SharedLibrary::open(const std::string& file, Lifetime lifetime) {
  HMODULE module = LoadLibraryA(file.c_str());
  if (module == nullptr) return nullptr;
  try {
    return std::make_unique<SharedLibrary>(Key{}, module, lifetime);
  } catch (...) {
    FreeLibrary(module);
    throw;
  }
}

SharedLibrary::~SharedLibrary() {
  if (lifetime_ == Lifetime::kObject) FreeLibrary(static_cast<HMODULE>(handle_));
}

void* SharedLibrary::symbol(const char* name) const {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

}  // namespace Vexa
