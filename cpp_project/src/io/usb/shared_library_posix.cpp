#include <dlfcn.h>

#include "io/usb/shared_library.h"

namespace Vexa {

std::unique_ptr<SharedLibrary> SharedLibrary::open(const std::string& file, Lifetime lifetime) {
  // Every function resolved now, none shared with later libraries.
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return nullptr;
  try {
    return std::make_unique<SharedLibrary>(Key{}, handle, lifetime);
  } catch (...) {
    dlclose(handle);
    throw;
  }
}

SharedLibrary::~SharedLibrary() {
  if (lifetime_ == Lifetime::kObject) dlclose(handle_);
}

void* SharedLibrary::symbol(const char* name) const { return dlsym(handle_, name); }

}  // namespace Vexa
