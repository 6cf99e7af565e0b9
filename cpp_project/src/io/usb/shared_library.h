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

  // Null when the file cannot be loaded. file is UTF-8: a name without a
  // folder is looked for where the system looks for libraries; a path loads
  // that file, and on Windows the libraries it imports are then looked for
  // in its folder first.
  static std::unique_ptr<SharedLibrary> open(const std::string& file, Lifetime lifetime);

  // The folder of the module (DLL, shared object or program) that holds
  // this code, in UTF-8 and ending in a separator; empty when the system
  // does not tell. The libraries a plug-in brings sit there, which the
  // system's own search for a bare name does not look at on Windows.
  static std::string ownFolder();

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
  // The file the system loaded, in UTF-8; empty when it does not tell.
  std::string path() const;

 private:
  void* handle_;
  Lifetime lifetime_;
};

}  // namespace Vexa

#endif  // VEXA_SRC_IO_USB_SHARED_LIBRARY_H_
