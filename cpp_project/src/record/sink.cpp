#include "record/sink.h"

#include <cerrno>
#include <filesystem>
#include <limits>

#include "io/os_error.h"
#include "io/utf8_path.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace record {

double Clock::hostTimeOf(int64_t tick) const {
  return fit ? fit->timeOf(tick) : std::numeric_limits<double>::quiet_NaN();
}

FilePtr createFile(const std::string& path) {
  FilePtr file(openFile(path, "wb"));
  if (!file) {
    VEXA_THROW_DETAIL(Error::InvalidParameter, "create " + path + ": " + errnoText(errno));
  }
  return file;
}

bool seekTo(std::FILE* file, uint64_t offset) {
#ifdef _WIN32
  return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
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

void Sink::fail() {
  const int err = errno;
  // The cause and the close()'s detail read the same.
  if (cause_.empty()) cause_ = "write: " + errnoText(err);
  VEXA_THROW_DETAIL(NotifException, "write: " + errnoText(err));
}

void Sink::abandon() noexcept {
  // Closing flushes what stdio still holds, as far as the file takes it;
  // its failure is the one already known.
  if (std::FILE* f = file_.release()) std::fclose(f);
  try {
    std::error_code error;
    const std::filesystem::path path = fileSystemPath(path_);
    if (!std::filesystem::is_regular_file(path, error)) return;  // a device such as /dev/full
    const uint64_t size = std::filesystem::file_size(path, error);
    if (error) return;
    const uint64_t length = completeLength(size);
    if (length < size) std::filesystem::resize_file(path, length, error);
    if (error) return;
    // The repair rewrites bytes already in the file: it needs no new space.
    if (FilePtr file{openFile(path_, "r+b")}) repairHeader(file.get(), length);
  } catch (...) {
    // Out of memory while repairing: the file stays as the failure left it.
  }
}

}  // namespace record
}  // namespace Vexa
