#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>

#include "io/usb/shared_library.h"
#include "io/utf8_path.h"

namespace Vexa {
namespace {

// The full file name of a loaded module; empty when the system does not
// give it. The buffer grows for paths beyond MAX_PATH.
std::wstring moduleFileName(HMODULE module) {
  std::wstring name(MAX_PATH, L'\0');
  // Windows paths hold at most 32767 characters.
  while (name.size() <= 65536) {
    const DWORD n = GetModuleFileNameW(module, &name[0], static_cast<DWORD>(name.size()));
    if (n == 0) return std::wstring();
    // A name that fills the buffer may have been cut.
    if (n < name.size()) {
      name.resize(n);
      return name;
    }
    name.resize(name.size() * 2);
  }
  return std::wstring();
}

// An address inside this module, for the system to tell which one it is.
void marker() {}

}  // namespace

std::unique_ptr<SharedLibrary> SharedLibrary::open(const std::string& file, Lifetime lifetime) {
  std::wstring name;
  if (!widen(file, name)) return nullptr;
  // LoadLibraryEx wants backslashes in a path.
  std::replace(name.begin(), name.end(), L'/', L'\\');
  // For a path, the system looks for the library's own imports (LibFT4222's
  // of FTD2XX) in the library's folder before anywhere else.
  const bool isPath = name.find(L'\\') != std::wstring::npos;
  HMODULE module = LoadLibraryExW(name.c_str(), nullptr, isPath ? LOAD_WITH_ALTERED_SEARCH_PATH : 0);
  if (module == nullptr) return nullptr;
  try {
    return std::make_unique<SharedLibrary>(Key{}, module, lifetime);
  } catch (...) {
    FreeLibrary(module);
    throw;
  }
}

std::string SharedLibrary::ownFolder() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(&marker)), &self)) {
    return std::string();
  }
  const std::wstring file = moduleFileName(self);
  const size_t cut = file.find_last_of(L"\\/");
  return cut == std::wstring::npos ? std::string() : narrow(file.data(), cut + 1);
}

SharedLibrary::~SharedLibrary() {
  if (lifetime_ == Lifetime::kObject) FreeLibrary(static_cast<HMODULE>(handle_));
}

void* SharedLibrary::symbol(const char* name) const {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

std::string SharedLibrary::path() const { return narrow(moduleFileName(static_cast<HMODULE>(handle_))); }

}  // namespace Vexa
