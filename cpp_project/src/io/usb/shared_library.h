// A library loaded at run time, and the addresses of its functions.
#ifndef VEXA_SRC_IO_USB_SHARED_LIBRARY_H_
#define VEXA_SRC_IO_USB_SHARED_LIBRARY_H_

#include <memory>
#include <string>

namespace Vexa {

class SharedLibrary {
 public:
  // How long a loaded library stays: until this object goes, or for the
  // rest of the process (libraries with threads of their own must not be
  // unloaded while the process shuts down).
  enum class Lifetime { kObject, kProcess };

  // Null when the file cannot be loaded. A name without a directory is
  // looked for where the system looks for libraries.
  static std::unique_ptr<SharedLibrary> open(const std::string& file, Lifetime lifetime);

 private:
  struct Key {
    explicit Key() = default;
  };

 public:
  // For open() only: Key is private.
  SharedLibrary(Key, void* handle, Lifetime lifetime) : handle_(handle), lifetime_(lifetime) {}
  ~SharedLibrary();
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // Null when the library has no such function.
  void* symbol(const char* name) const;

 private:
  void* handle_;
  Lifetime lifetime_;
};

}  // namespace Vexa

#endif  // VEXA_SRC_IO_USB_SHARED_LIBRARY_H_
