// Texts for the causes the operating system gives, as exception details.
#ifndef VEXA_SRC_IO_OS_ERROR_H_
#define VEXA_SRC_IO_OS_ERROR_H_

#include <string>

namespace Vexa {

// "Permission denied (errno 13)".
std::string errnoText(int err);

// "Access is denied. (error 5)": the system's own message for a
// GetLastError code. Defined on Windows only.
std::string windowsErrorText(unsigned long code);

}  // namespace Vexa

#endif  // VEXA_SRC_IO_OS_ERROR_H_
