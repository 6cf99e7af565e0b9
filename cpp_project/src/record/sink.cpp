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

void Sink::write(const void* data, size_t n) {
  if (std::fwrite(data, 1, n, file_.get()) != n) fail();
  bytes_ += n;
}

void Sink::flushFile() {
  if (std::fflush(file_.get()) != 0) fail();
}

void Sink::closeFile() {
  if (std::fclose(file_.release()) != 0) fail();
}

void Sink::fail() { VEXA_THROW_DETAIL(NotifException, "write: " + errnoText(errno)); }

}  // namespace record
}  // namespace Vexa
