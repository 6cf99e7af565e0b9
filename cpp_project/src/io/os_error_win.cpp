#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "io/os_error.h"
#include "io/utf8_path.h"

namespace Vexa {

std::string windowsErrorText(unsigned long code) {
  // The wide text, as UTF-8: the narrow one is in the user's code page.
  wchar_t text[512] = {};
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                           sizeof text / sizeof text[0], nullptr);
  // The system's messages end in a line break.
  while (n > 0 && (text[n - 1] == L'\r' || text[n - 1] == L'\n' || text[n - 1] == L' ')) text[--n] = L'\0';
  const std::string message = n > 0 ? narrow(text, n) + " " : std::string();
  return message + "(error " + std::to_string(code) + ")";
}

}  // namespace Vexa
