#include "record_plan.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <set>
#include <tuple>
#include <utility>

namespace vexa_cli {
namespace {

// The fastest base rate of the current generation.
constexpr double kCurrentMaxRate = 100000;
// What a BDF+ header holds of a label and of a unit.
constexpr size_t kLabelLength = 16, kUnitLength = 8;

// A whole number written in decimal, or in hexadecimal after "0x".
std::optional<long> number(const std::string& text) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits.size() > 8 || digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos) {
    return std::nullopt;
  }
  return std::strtol(digits.c_str(), nullptr, hex ? 16 : 10);
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (size_t at; (at = text.find(separator, from)) != std::string::npos; from = at + 1) {
    parts.push_back(text.substr(from, at - from));
  }
  parts.push_back(text.substr(from));
  return parts;
}

// "MIN:MAX" as two finite numbers that differ.
std::optional<std::pair<double, double>> physicalRange(const std::string& text) {
  const std::vector<std::string> ends = split(text, ':');
  if (ends.size() != 2) return std::nullopt;
  double value[2];
  for (int i = 0; i < 2; ++i) {
    char* end = nullptr;
    value[i] = std::strtod(ends[static_cast<size_t>(i)].c_str(), &end);
    if (ends[static_cast<size_t>(i)].empty() || *end != '\0' || !std::isfinite(value[i])) return std::nullopt;
  }
  if (value[0] == value[1]) return std::nullopt;
  return std::make_pair(value[0], value[1]);
}

bool printable(const std::string& text) {
  for (char c : text) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

}  // namespace

std::optional<Vexa::Source> parseSource(const std::string& text, int bits) {
  const std::vector<std::string> parts = split(text, ':');
  if (parts.size() < 2 || parts.size() > 3) return std::nullopt;
  const std::optional<long> port = number(parts[0]), mask = number(parts[1]);
  const std::optional<long> divisor = parts.size() == 3 ? number(parts[2]) : 1;
  if (!port || !mask || !divisor || *port > 63 || *mask < 1 || *mask > 0xFFFF || *divisor < 1 || *divisor > 0xFFFF) {
    return std::nullopt;
  }
  return Vexa::Source{static_cast<int32_t>(*port), static_cast<int32_t>(*divisor), bits, static_cast<int32_t>(*mask)};
}

std::string sourceError(const std::string& text) {
  if (parseSource(text, 0)) return {};
  return "'" + text + "' is not PORT:MASK[:DIVISOR] with PORT 0 to 63, MASK 1 to 0xFFFF, DIVISOR 1 to 65535";
}

std::string channelTextError(const std::string& option, const std::string& text, size_t channelCount) {
  const size_t eq = text.find('=');
  const std::string key = text.substr(0, eq), value = eq == std::string::npos ? "" : text.substr(eq + 1);
  const std::optional<long> n = number(key);
  if (eq == std::string::npos || (key != "*" && (!n || key[0] == '0'))) {
    return "'" + text + "' is not N=" + (option == "--physical" ? "MIN:MAX" : "TEXT") + " (N a channel from 1, or *)";
  }
  if (channelCount > 0 && key != "*" && static_cast<size_t>(*n) > channelCount) {
    return "channel " + key + " is not recorded: " + std::to_string(channelCount) + " channels are, from 1";
  }
  if (option == "--physical") {
    return physicalRange(value) ? "" : "'" + value + "' is not MIN:MAX, two different numbers";
  }
  const size_t longest = option == "--label" ? kLabelLength : kUnitLength;
  if (!printable(value) || value.size() > longest) {
    return "'" + value + "' is not " + std::to_string(longest) + " printable ASCII characters at most";
  }
  return {};
}

std::vector<Vexa::Source> sourcesOf(const RecordOptions& o) {
  std::vector<Vexa::Source> sources;
  for (const std::string& text : o.sources) sources.push_back(*parseSource(text, o.bits));
  for (size_t i = 0; o.sources.empty() && i < o.channels.size(); ++i) {
    if (o.channels[i] == '1') sources.push_back({static_cast<int32_t>(i) + 1, 1, o.bits, 1});
  }
  return sources;
}

size_t channelCount(const std::vector<Vexa::Source>& sources) {
  size_t n = 0;
  for (const Vexa::Source& s : sources) {
    for (uint32_t mask = static_cast<uint32_t>(s.chMask) & 0xFFFF; mask; mask &= mask - 1) ++n;
  }
  return n;
}

std::vector<std::string> fileNamesFor(const std::vector<std::string>& paths) {
  constexpr size_t kMaxStem = 64;
  std::vector<std::string> names;
  std::set<std::string> taken;  // lower case: some file systems ignore the case
  for (const std::string& path : paths) {
    std::string stem;
    for (char c : path) {
      const bool kept = std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
      if (kept) {
        stem += c;
      } else if (!stem.empty() && stem.back() != '_') {
        stem += '_';  // one for each run of other characters
      }
    }
    // No leading dot (a hidden file, or "..") and no trailing separator.
    while (!stem.empty() && (stem.front() == '.' || stem.front() == '_')) stem.erase(0, 1);
    if (stem.size() > kMaxStem) stem.resize(kMaxStem);
    while (!stem.empty() && (stem.back() == '.' || stem.back() == '_')) stem.pop_back();
    if (stem.empty()) stem = "device";
    std::string name = stem;
    for (int n = 2;; ++n) {
      std::string key = name;
      for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (taken.insert(key).second) break;
      name = stem + "-" + std::to_string(n);
    }
    names.push_back(name + ".bdf");
  }
  return names;
}

std::string rateRefusal(Vexa::DeviceFamily family, double rate) {
  switch (family) {
    case Vexa::DeviceFamily::kCompactBoard:
      return rate == 1 || rate == 10 || rate == 100 || rate == 1000 ? "" : "it takes 1, 10, 100 or 1000 Hz";
    case Vexa::DeviceFamily::kOldest:
      return rate == std::floor(rate) && rate >= 36 && rate <= 8000 ? "" : "it takes 36 to 8000 Hz in whole hertz";
    default:
      return rate <= kCurrentMaxRate ? "" : "its family takes at most 100000 Hz";
  }
}

std::vector<Vexa::RecordedChannel> recordedChannels(const std::vector<Vexa::Source>& sources,
                                                    Vexa::DeviceFamily family) {
  std::vector<Vexa::RecordedChannel> channels;
  for (const Vexa::Source& s : sources) {
    for (int32_t ch = 0; ch < 16; ++ch) {
      if ((s.chMask >> ch & 1) == 0) continue;
      const int32_t bits = family != Vexa::DeviceFamily::kCompactBoard ? s.nBits : channels.size() < 4 ? 10 : 6;
      channels.push_back({s.port, ch, s.freqDivisor, bits});
    }
  }
  return channels;
}

void describeChannels(Vexa::RecordingInfo& info, const RecordOptions& o, const Vexa::RecordingInfo* replayed) {
  std::vector<Vexa::ChannelDescription> d(info.channels.size());
  if (replayed) {
    info.subject = replayed->subject;
    info.note = replayed->note;
    for (size_t i = 0; i < d.size() && replayed->descriptions.size() == replayed->channels.size(); ++i) {
      for (size_t j = 0; j < replayed->channels.size(); ++j) {
        const Vexa::RecordedChannel &now = info.channels[i], &then = replayed->channels[j];
        if (now.port == then.port && now.channel == then.channel) d[i] = replayed->descriptions[j];
      }
    }
  }
  // "*" first, so that a numbered setting wins over it whatever the order.
  auto apply = [&](const std::vector<std::string>& texts, auto set) {
    for (bool all : {true, false}) {
      for (const std::string& text : texts) {
        const size_t eq = text.find('=');
        const std::string key = text.substr(0, eq), value = text.substr(eq + 1);
        if ((key == "*") != all) continue;
        for (size_t i = 0; i < d.size(); ++i) {
          if (all || static_cast<long>(i) + 1 == *number(key)) set(d[i], value);
        }
      }
    }
  };
  apply(o.labels, [](Vexa::ChannelDescription& c, const std::string& v) { c.label = v; });
  apply(o.units, [](Vexa::ChannelDescription& c, const std::string& v) { c.unit = v; });
  apply(o.physical, [](Vexa::ChannelDescription& c, const std::string& v) {
    std::tie(c.physicalMin, c.physicalMax) = *physicalRange(v);
  });
  info.descriptions = std::move(d);
  if (o.subject) info.subject = *o.subject;
  if (o.note) info.note = *o.note;
}

}  // namespace vexa_cli
