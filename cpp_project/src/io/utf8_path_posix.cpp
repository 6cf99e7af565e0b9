#include "io/utf8_path.h"

namespace Vexa {

// The file system takes the bytes as they are.
std::FILE* openFile(const std::string& utf8Path, const char* mode) { return std::fopen(utf8Path.c_str(), mode); }

}  // namespace Vexa
