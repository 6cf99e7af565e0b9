#include "vexa_sim/wire_trace_file.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace vexa_sim {
namespace {

constexpr char kMagic[] = "# vexa wire trace 1";
constexpr char kMagicStem[] = "# vexa wire trace ";
constexpr char kLimitLine[] = "# limit reached";

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string hexOf(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
  }
  return text;
}

WireTrace parseWireTrace(const std::string& text, const std::string& name) {
  WireTrace trace;
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  bool headed = false;
  auto fail = [&](const std::string& why) {
    throw std::invalid_argument(name + ":" + std::to_string(number) + ": " + why);
  };
  while (std::getline(lines, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();  // written on Windows
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    if (!headed) {
      if (line.rfind(kMagicStem, 0) == 0 && line != kMagic) fail("a wire trace of an unknown version: " + line);
      if (line != kMagic) fail("not a wire trace: it does not begin with \"" + std::string(kMagic) + "\"");
      headed = true;
      continue;
    }
    if (line[0] == '#') {  // the header's fields name what the bytes tell anyway
      if (line.rfind(kLimitLine, 0) == 0) trace.cut = true;
      continue;
    }
    std::istringstream fields(line);
    std::string time, direction, hex, extra;
    if (!(fields >> time >> direction >> hex) || (fields >> extra)) {
      fail("expected \"<seconds> <out|in> <hex>\", got \"" + line + "\"");
    }
    TraceChunk chunk;
    chunk.line = number;
    char* end = nullptr;
    chunk.seconds = std::strtod(time.c_str(), &end);
    if (time.find_first_not_of("0123456789.") != std::string::npos || end != time.c_str() + time.size()) {
      fail("the time \"" + time + "\" is not a number of seconds");
    }
    if (!trace.chunks.empty() && chunk.seconds < trace.chunks.back().seconds) fail("the time goes back");
    if (direction != "out" && direction != "in") fail("the direction must be out or in, got \"" + direction + "\"");
    chunk.fromHost = direction == "out";
    if (hex.size() % 2 != 0) fail("odd number of hex digits");
    for (size_t i = 0; i < hex.size(); i += 2) {
      int high = hexDigit(hex[i]);
      int low = hexDigit(hex[i + 1]);
      if (high < 0 || low < 0) fail("\"" + hex + "\" is not hex");
      chunk.bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    trace.chunks.push_back(std::move(chunk));
  }
  if (!headed) throw std::invalid_argument(name + ": empty, not a wire trace");
  return trace;
}

WireTrace readWireTrace(const std::string& path) {
  // The path is UTF-8, as every path the library takes.
  std::ifstream file(std::filesystem::u8path(path), std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (!file.is_open() || file.bad()) throw std::invalid_argument("cannot read the trace " + path);
  return parseWireTrace(text, path);
}

}  // namespace vexa_sim
