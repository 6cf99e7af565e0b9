// Paths and texts cross the library's boundary as UTF-8 on every system.
// Windows takes file names in UTF-16 (its narrow calls read the user's code
// page, in which a name such as "Jürgen" or "日本" may not exist): these
// turn UTF-8 into what each system's file calls take.
#ifndef VEXA_SRC_IO_UTF8_PATH_H_
#define VEXA_SRC_IO_UTF8_PATH_H_

#include <cstdio>
#include <filesystem>
#include <string>

namespace Vexa {

// Opens the file at a UTF-8 path as std::fopen does. Null, with errno set,
// when it cannot (EINVAL for a path that is not UTF-8).
std::FILE* openFile(const std::string& utf8Path, const char* mode);

// The UTF-8 path as std::filesystem takes it. Throws
// std::filesystem::filesystem_error on Windows for a path that is not UTF-8.
inline std::filesystem::path fileSystemPath(const std::string& utf8Path) {
  return std::filesystem::u8path(utf8Path);
}

#ifdef _WIN32
// UTF-8 to UTF-16 and back. widen returns false, out untouched, for text
// that is not UTF-8; narrow replaces what is not UTF-16 (a lone surrogate).
bool widen(const std::string& utf8, std::wstring& out);
std::string narrow(const wchar_t* utf16, size_t length);
inline std::string narrow(const std::wstring& utf16) { return narrow(utf16.data(), utf16.size()); }
#endif

}  // namespace Vexa

#endif  // VEXA_SRC_IO_UTF8_PATH_H_
