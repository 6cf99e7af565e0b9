#include "io/bth/bth_address.h"

#include <cctype>
#include <cstdio>

namespace Vexa {
namespace bth {
namespace {

constexpr size_t kAddressBytes = 6;
constexpr size_t kAddressText = 3 * kAddressBytes - 1;  // "XX:" x 6 less one ':'

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<uint64_t> parseAddress(const std::string& path) {
  std::string text = path;
  if (text.size() >= 3) {
    std::string prefix;
    for (size_t i = 0; i < 3; ++i) prefix += static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
    if (prefix == "BTH") text.erase(0, 3);
  }
  if (text.size() == kAddressText + 2 && text.front() == '(' && text.back() == ')') {
    text = text.substr(1, kAddressText);
  }
  if (text.size() != kAddressText) return std::nullopt;
  uint64_t address = 0;
  for (size_t i = 0; i < kAddressBytes; ++i) {
    const size_t at = 3 * i;
    if (i > 0 && text[at - 1] != ':') return std::nullopt;
    const int high = hexValue(text[at]);
    const int low = hexValue(text[at + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    address = address << 8 | static_cast<uint64_t>(high << 4 | low);
  }
  return address;
}

std::string formatPath(uint64_t address) {
  char text[4 + kAddressText] = {};
  std::snprintf(text, sizeof text, "BTH%02X:%02X:%02X:%02X:%02X:%02X",
                static_cast<unsigned>(address >> 40 & 0xFF), static_cast<unsigned>(address >> 32 & 0xFF),
                static_cast<unsigned>(address >> 24 & 0xFF), static_cast<unsigned>(address >> 16 & 0xFF),
                static_cast<unsigned>(address >> 8 & 0xFF), static_cast<unsigned>(address & 0xFF));
  return text;
}

}  // namespace bth
}  // namespace Vexa
