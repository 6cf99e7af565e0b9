#include <dlfcn.h>
#include <link.h>

#include "io/usb/shared_library.h"

namespace Vexa {
namespace {

// An address inside this module, for the system to tell which one it is.
void marker() {}

}  // namespace

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

std::string SharedLibrary::ownFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&marker), &info) == 0 || info.dli_fname == nullptr) return std::string();
  // A program started through PATH may be named without its folder: then
  // there is none to tell.
  const std::string file = info.dli_fname;
  const size_t cut = file.rfind('/');
  return cut == std::string::npos ? std::string() : file.substr(0, cut + 1);
}

SharedLibrary::~SharedLibrary() {
  if (lifetime_ == Lifetime::kObject) dlclose(handle_);
}

void* SharedLibrary::symbol(const char* name) const { return dlsym(handle_, name); }

std::string SharedLibrary::path() const {
  link_map* map = nullptr;
  if (dlinfo(handle_, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr) return std::string();
  return map->l_name;
}

}  // namespace Vexa
