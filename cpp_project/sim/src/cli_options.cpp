#include "vexa_sim/cli_options.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <stdexcept>

#include "vexa_sim/cadrium_model.h"
#include "vexa_sim/current_device_model.h"
#include "vexa_sim/fault_model.h"
#include "vexa_sim/message_codec.h"
#include "vexa_sim/quillbox_model.h"
#include "vexa_sim/replay_model.h"
#include "vexa_sim/trace_model.h"
#include "vexa_sim/wire_trace_file.h"

namespace vexa_sim {
namespace {

// The families each option applies to.
const std::map<std::string, std::set<Family>> kOptions = {
    {"--family", {Family::kCurrent, Family::kCadrium, Family::kQuillbox}},
    {"--description", {Family::kCurrent}},
    {"--product", {Family::kCurrent}},
    {"--fw", {Family::kCurrent}},
    {"--hw", {Family::kCurrent}},
    {"--color", {Family::kCurrent}},
    {"--ticks-per-frame", {Family::kCurrent}},
    {"--battery", {Family::kCurrent, Family::kQuillbox}},
    {"--version-line", {Family::kCadrium, Family::kQuillbox}},
    {"--firmware", {Family::kCadrium}},
    {"--digital-inputs", {Family::kCadrium, Family::kQuillbox}},
    {"--replay", {Family::kCurrent}},
    {"--play-trace", {Family::kCurrent, Family::kCadrium, Family::kQuillbox}},
    {"--clock-ppm", {Family::kCurrent}},
    {"--jitter-ms", {Family::kCurrent}},
    {"--seed", {Family::kCurrent}},
    {"--pattern", {Family::kCurrent}},
    {"--silent", {Family::kCurrent, Family::kCadrium, Family::kQuillbox}},
    {"--stray-bytes", {Family::kCurrent, Family::kCadrium, Family::kQuillbox}},
};

std::string familyName(Family family) {
  switch (family) {
    case Family::kCadrium:
      return "cadrium";
    case Family::kQuillbox:
      return "quillbox";
    case Family::kCurrent:
      break;
  }
  return "current";
}

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

// A decimal number with an optional sign and fraction, from min to max.
double parseDecimal(const std::string& option, const std::string& text, double min, double max) {
  const bool wellFormed = !text.empty() && text.find_first_not_of("+-.0123456789") == std::string::npos;
  char* end = nullptr;
  const double value = wellFormed ? std::strtod(text.c_str(), &end) : 0;
  if (!wellFormed || end != text.c_str() + text.size() || !std::isfinite(value)) {
    fail(option + " needs a decimal number, got '" + text + "'");
  }
  if (value < min || value > max) {
    fail(option + " must lie within " + std::to_string(static_cast<int>(min)) + " to " +
         std::to_string(static_cast<int>(max)) + ", got " + text);
  }
  return value;
}

SignalKind parseSignal(const std::string& text) {
  if (text == "standard") return SignalKind::kPattern;
  if (text == "clock") return SignalKind::kClock;
  fail("--pattern must be standard or clock, got '" + text + "'");
}

Family parseFamily(const std::string& text) {
  if (text == "current") return Family::kCurrent;
  if (text == "cadrium") return Family::kCadrium;
  if (text == "quillbox") return Family::kQuillbox;
  fail("--family must be current, cadrium or quillbox, got '" + text + "'");
}

// Comma-separated numbers 0 to 15: the digital inputs of successive frames.
std::vector<uint8_t> parseInputs(const std::string& option, const std::string& text) {
  std::vector<uint8_t> inputs;
  size_t start = 0;
  for (;;) {
    size_t comma = text.find(',', start);
    inputs.push_back(
        static_cast<uint8_t>(parseNumber(option, text.substr(start, comma - start), 15)));
    if (comma == std::string::npos) return inputs;
    start = comma + 1;
  }
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
    options.quillbox.state.battery = c.batteryRaw;
  } else if (name == "--ticks-per-frame") {
    c.ticksPerFrame = static_cast<int>(parseNumber(name, value, 0xFFFF));
  } else if (name == "--firmware") {
    options.cadrium.firmware = static_cast<uint16_t>(parseNumber(name, value, 0xFFFF));
  } else if (name == "--digital-inputs") {
    options.cadrium.digitalInputs = parseInputs(name, value);
    options.quillbox.digitalInputs = options.cadrium.digitalInputs;
  } else if (name == "--color") {
    c.color = static_cast<uint8_t>(parseNumber(name, value, 0xFF));
  } else if (name == "--clock-ppm") {
    c.clockPpm = parseDecimal(name, value, -kMaxClockPpm, kMaxClockPpm);
  } else if (name == "--jitter-ms") {
    c.jitterMs = parseDecimal(name, value, 0, kMaxJitterMs);
  } else if (name == "--seed") {
    c.seed = parseNumber(name, value, 0xFFFFFFFF);
  } else if (name == "--pattern") {
    c.signal = parseSignal(value);
  } else if (name == "--stray-bytes") {
    options.faults.strayBytes = static_cast<int>(parseNumber(name, value, 0xFFFF));
  } else if (name == "--replay") {
    if (value.empty()) fail("--replay needs a file");
    options.replay = value;
  } else if (name == "--play-trace") {
    if (value.empty()) fail("--play-trace needs a file");
    options.playTrace = value;
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
    if (arg == "--silent") {  // a flag: takes no value
      if (!seen.insert(name).second) fail(name + " given twice");
      options.faults.silent = true;
      continue;
    }
    if (size_t eq = arg.find('='); eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      fail(kOptions.count(name) ? name + " needs a value" : "unknown option '" + name + "'");
    }
    if (!seen.insert(name).second) fail(name + " given twice");
    apply(options, name, value);
  }
  for (const std::string& name : seen) {
    const std::set<Family>& families = kOptions.at(name);
    if (families.count(options.family)) continue;
    std::string names;
    for (Family f : families) names += (names.empty() ? "" : " or ") + familyName(f);
    fail(name + " applies only to --family " + names);
  }
  for (const char* named : {"--description", "--product"}) {
    if (options.replay && seen.count(named)) fail(std::string(named) + " does not apply with --replay: the recording names the device");
  }
  // The trace holds the whole device: its family, replies and timing.
  for (const std::string& name : seen) {
    if (options.playTrace && name != "--play-trace") fail(name + " does not apply with --play-trace: the trace names the device");
  }
  if (options.replay && seen.count("--pattern")) fail("--pattern does not apply with --replay: the recording gives the samples");
  return options;
}

namespace {

std::unique_ptr<DeviceModel> makeDeviceModel(const CliOptions& options) {
  if (options.playTrace) return std::make_unique<TraceModel>(readWireTrace(*options.playTrace));
  switch (options.family) {
    case Family::kCadrium: {
      CadriumConfig config = options.cadrium;
      if (options.versionLine) config.versionLine = *options.versionLine;
      return std::make_unique<CadriumModel>(config);
    }
    case Family::kQuillbox: {
      QuillboxConfig config = options.quillbox;
      if (options.versionLine) config.versionLine = *options.versionLine;
      return std::make_unique<QuillboxModel>(config);
    }
    case Family::kCurrent:
      break;
  }
  if (options.replay) return std::make_unique<ReplayModel>(options.current, *options.replay);
  return std::make_unique<CurrentDeviceModel>(options.current);
}

}  // namespace

std::unique_ptr<DeviceModel> makeModel(const CliOptions& options) {
  std::unique_ptr<DeviceModel> model = makeDeviceModel(options);
  // Only a faulty link gets the wrapper, so the plain models stay reachable
  // by their own type.
  if (!options.faults.silent && options.faults.strayBytes == 0) return model;
  return std::make_unique<FaultModel>(std::move(model), options.faults);
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
         "  --battery N           current: raw battery reading (default 1700);\n"
         "                        quillbox: battery of the state reply (default 800)\n"
         "  --color N             current: colour byte (default 2)\n"
         "  --ticks-per-frame N   current: ticks per data frame, 0 about 10 ms (default 0)\n"
         "  --version-line TEXT   cadrium/quillbox: version line; a line feed is added\n"
         "                        when missing\n"
         "  --firmware N          cadrium: firmware version, below 0x0200 the 'Z' start\n"
         "                        (default: read from the version line)\n"
         "  --digital-inputs LIST cadrium/quillbox: inputs of successive frames, repeated,\n"
         "                        e.g. 0,1,1 (quillbox: 0 to 15, bit 3 is input 0)\n"
         "  --replay FILE.bdf     current: play a recording made by the recorder, at its\n"
         "                        rate, named as in its header; ends with a disconnect\n"
         "  --play-trace FILE     play the device side of a wire trace: the host must send\n"
         "                        what the trace holds; a mismatch is printed and ends\n"
         "                        the simulator with status 1. Takes no other option\n"
         "  --clock-ppm N         current: the device's clock runs N ppm fast, negative\n"
         "                        slow (default 0, at most 10000 either way)\n"
         "  --jitter-ms N         current: each message waits 0 to N ms (uniformly, never\n"
         "                        overtaking another); every 2 s of an acquisition\n"
         "                        delivery also stops for N ms, then sends what waited\n"
         "                        (default 0, at most 1000)\n"
         "  --seed N              current: makes the jitter's draws repeatable\n"
         "  --pattern standard|clock  current: clock puts on channels 0 and 1 of port 1\n"
         "                        (16-bit) the low and high 16 bits of the microseconds,\n"
         "                        on the host's monotonic clock, at which each instant\n"
         "                        was due (default standard)\n"
         "  --silent              the device takes commands and never answers\n"
         "  --stray-bytes N       N bytes that belong to no message are sent once, just\n"
         "                        before the first data frame (default 0)\n"
         "  --help                show this text\n"
         "Numbers are decimal or hexadecimal with 0x.\n";
}

}  // namespace vexa_sim
