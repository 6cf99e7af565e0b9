#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cerrno>
#include <climits>

#include "io/utf8_path.h"

namespace Vexa {

bool widen(const std::string& utf8, std::wstring& out) {
  if (utf8.empty()) {
    out.clear();
    return true;
  }
  if (utf8.size() > static_cast<size_t>(INT_MAX)) return false;
  const int size = static_cast<int>(utf8.size());
  // Invalid bytes fail rather than turn into U+FFFD: a path must name
  // exactly the file the caller meant.
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
  if (n <= 0) return false;
  std::wstring wide(static_cast<size_t>(n), L'\0');
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, &wide[0], n) != n) return false;
  out = std::move(wide);
  return true;
}

std::string narrow(const wchar_t* utf16, size_t length) {
  if (length == 0 || length > static_cast<size_t>(INT_MAX)) return std::string();
  const int size = static_cast<int>(length);
  const int n = WideCharToMultiByte(CP_UTF8, 0, utf16, size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string text(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, utf16, size, &text[0], n, nullptr, nullptr);
  return text;
}

std::FILE* openFile(const std::string& utf8Path, const char* mode) {
  std::wstring path, wideMode;
  if (!widen(utf8Path, path) || !widen(mode, wideMode)) {
    errno = EINVAL;
    return nullptr;
  }
  return _wfopen(path.c_str(), wideMode.c_str());
}

}  // namespace Vexa
