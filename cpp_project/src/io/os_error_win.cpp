#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "io/os_error.h"

namespace Vexa {

std::string windowsErrorText(unsigned long code) {
  char text[512] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                           sizeof text, nullptr);
  // The system's messages end in a line break.
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) text[--n] = '\0';
  std::string message = n > 0 ? std::string(text, n) + " " : std::string();
  return message + "(error " + std::to_string(code) + ")";
}

}  // namespace Vexa
