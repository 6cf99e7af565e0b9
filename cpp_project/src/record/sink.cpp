#include "record/sink.h"

#include "vexa/exceptions.h"

namespace Vexa {
namespace record {

FilePtr createFile(const std::string& path) {
  FilePtr file(std::fopen(path.c_str(), "wb"));
  if (!file) VEXA_THROW(Error::InvalidParameter, "Vexa::Recorder::Recorder");
  return file;
}

}  // namespace record
}  // namespace Vexa
