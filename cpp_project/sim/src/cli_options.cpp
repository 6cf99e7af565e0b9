#include "vexa_sim/cli_options.h"

#include <cstdint>
#include <set>
#include <stdexcept>

#include "vexa_sim/cadrium_model.h"
#include "vexa_sim/current_device_model.h"
#include "vexa_sim/message_codec.h"
#include "vexa_sim/quillbox_model.h"

namespace vexa_sim {
namespace {

const std::set<std::string> kCurrentOnly = {"--description", "--product", "--fw",
                                            "--hw",          "--battery", "--color"};

[[noreturn]] void fail(const std::string& message) { throw std::invalid_argument(message); }

// Decimal, or hexadecimal after 0x; nothing else, no sign, at most max.
uint32_t parseNumber(const std::string& option, const std::string& text, uint32_t max) {
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  size_t start = hex ? 2 : 0;
  if (text.size() <= start) fail(option + " needs a number, got '" + text + "'");
  uint64_t value = 0;
  for (size_t i = start; i < text.size(); ++i) {
    char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      fail(option + " needs a number (decimal or 0x hex), got '" + text + "'");
    }
    value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    if (value > max) fail(option + " must be at most " + std::to_string(max) + ", got " + text);
  }
  return static_cast<uint32_t>(value);
}

Family parseFamily(const std::string& text) {
  if (text == "current") return Family::kCurrent;
  if (text == "cadrium") return Family::kCadrium;
  if (text == "quillbox") return Family::kQuillbox;
  fail("--family must be current, cadrium or quillbox, got '" + text + "'");
}

void apply(CliOptions& options, const std::string& name, const std::string& value) {
  CurrentDeviceConfig& c = options.current;
  if (name == "--family") {
    options.family = parseFamily(value);
  } else if (name == "--description") {
    if (value.size() > kMaxMessagePayload) fail("--description is longer than 65535 bytes");
    c.description = value;
  } else if (name == "--product") {
    c.productId = static_cast<uint16_t>(parseNumber(name, value, 0xFFFF));
  } else if (name == "--fw") {
    c.fwVersion = static_cast<uint16_t>(parseNumber(name, value, 0xFFFF));
  } else if (name == "--hw") {
    c.hwVersion = static_cast<uint16_t>(parseNumber(name, value, 0xFFFF));
  } else if (name == "--battery") {
    c.batteryRaw = static_cast<uint16_t>(parseNumber(name, value, 0xFFFF));
  } else if (name == "--color") {
    c.color = static_cast<uint8_t>(parseNumber(name, value, 0xFF));
  } else if (name == "--version-line") {
    if (value.empty()) fail("--version-line needs text");
    // The host reads the line up to its line feed.
    options.versionLine = value.back() == '\n' ? value : value + '\n';
  } else {
    fail("unknown option '" + name + "'");
  }
}

}  // namespace

CliOptions parseCliOptions(const std::vector<std::string>& args) {
  CliOptions options;
  std::set<std::string> seen;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      continue;
    }
    if (arg.rfind("--", 0) != 0) fail("unexpected argument '" + arg + "'");
    std::string name = arg;
    std::string value;
    if (size_t eq = arg.find('='); eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      fail(name == "--family" || kCurrentOnly.count(name) || name == "--version-line"
               ? name + " needs a value"
               : "unknown option '" + name + "'");
    }
    if (!seen.insert(name).second) fail(name + " given twice");
    apply(options, name, value);
  }
  for (const std::string& name : seen) {
    if (options.family != Family::kCurrent && kCurrentOnly.count(name)) {
      fail(name + " applies only to --family current");
    }
    if (options.family == Family::kCurrent && name == "--version-line") {
      fail("--version-line applies only to --family cadrium or quillbox");
    }
  }
  return options;
}

std::unique_ptr<DeviceModel> makeModel(const CliOptions& options) {
  switch (options.family) {
    case Family::kCadrium: {
      CadriumConfig config;
      if (options.versionLine) config.versionLine = *options.versionLine;
      return std::make_unique<CadriumModel>(config);
    }
    case Family::kQuillbox: {
      QuillboxConfig config;
      if (options.versionLine) config.versionLine = *options.versionLine;
      return std::make_unique<QuillboxModel>(config);
    }
    case Family::kCurrent:
      break;
  }
  return std::make_unique<CurrentDeviceModel>(options.current);
}

std::string cliUsage(const std::string& program) {
  return "Usage: " + program +
         " [options]\n"
         "Simulates one Vexa device on a pseudo-terminal. Prints the port path\n"
         "(COM/dev/pts/N) on one line, then serves until standard input ends or\n"
         "SIGINT/SIGTERM arrives.\n"
         "\n"
         "  --family current|cadrium|quillbox   device family (default current)\n"
         "  --description TEXT    current: reply to 'V' (default tessarimodular)\n"
         "  --product N           current: product identifier (default 0x0201)\n"
         "  --fw N                current: firmware version (default 0x0304)\n"
         "  --hw N                current: hardware version, 0xFFFF none (default 0x0102)\n"
         "  --battery N           current: raw battery reading (default 1700)\n"
         "  --color N             current: colour byte (default 2)\n"
         "  --version-line TEXT   cadrium/quillbox: version line; a line feed is added\n"
         "                        when missing\n"
         "  --help                show this text\n"
         "Numbers are decimal or hexadecimal with 0x.\n";
}

}  // namespace vexa_sim
