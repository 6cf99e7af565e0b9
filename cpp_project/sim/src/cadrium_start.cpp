#include "vexa_sim/cadrium_start.h"

#include <cctype>
#include <stdexcept>

namespace vexa_sim {
namespace {

constexpr char kLayout[] = "@START,dddd,hh,dd;";  // d: decimal digit, h: hex digit

[[noreturn]] void refuse(const std::string& text, const std::string& why) {
  throw std::invalid_argument("start '" + text + "': " + why);
}

}  // namespace

CadriumStart parseCadriumStart(const std::string& text) {
  const std::string layout = kLayout;
  if (text.size() != layout.size()) refuse(text, "not of the form " + layout);
  for (size_t i = 0; i < layout.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    bool fits = layout[i] == 'd'   ? std::isdigit(c) != 0
                : layout[i] == 'h' ? std::isxdigit(c) != 0
                                   : text[i] == layout[i];
    if (!fits) refuse(text, "not of the form " + layout);
  }
  CadriumStart start;
  start.rate = std::stoi(text.substr(7, 4));
  start.mask = std::stoi(text.substr(12, 2), nullptr, 16);
  start.nBits = std::stoi(text.substr(15, 2));
  if (start.rate < 36 || start.rate > 8000) refuse(text, "rate outside 36 to 8000");
  if (start.mask == 0) refuse(text, "no channel");
  if (start.nBits != 8 && start.nBits != 12) refuse(text, "samples neither 8 nor 12 bits");
  return start;
}

}  // namespace vexa_sim
