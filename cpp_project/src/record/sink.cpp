#include "record/sink.h"

#include <cerrno>

#include "io/os_error.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace record {

FilePtr createFile(const std::string& path) {
  FilePtr file(std::fopen(path.c_str(), "wb"));
  if (!file) {
    VEXA_THROW_DETAIL(Error::InvalidParameter, "create " + path + ": " + errnoText(errno));
  }
  return file;
}

}  // namespace record
}  // namespace Vexa
