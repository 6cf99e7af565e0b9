// Reads numbers out of the version lines that legacy devices send.
#ifndef VEXA_SRC_BASE_DECIMAL_H_
#define VEXA_SRC_BASE_DECIMAL_H_

#include <cctype>
#include <cstdint>

namespace Vexa {

// Reads a decimal number the way the C library's conversions do: leading
// blanks, an optional sign, then digits. Advances p past what was read and
// returns false when no digit follows. Saturates instead of overflowing.
inline bool readDecimal(const char*& p, int64_t& value) {
  const char* s = p;
  while (std::isspace(static_cast<unsigned char>(*s))) ++s;
  bool negative = *s == '-';
  if (*s == '-' || *s == '+') ++s;
  if (!std::isdigit(static_cast<unsigned char>(*s))) return false;
  int64_t v = 0;
  for (; std::isdigit(static_cast<unsigned char>(*s)); ++s) {
    if (v < (int64_t{1} << 40)) v = v * 10 + (*s - '0');
  }
  value = negative ? -v : v;
  p = s;
  return true;
}

}  // namespace Vexa

#endif  // VEXA_SRC_BASE_DECIMAL_H_
