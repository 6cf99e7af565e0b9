#include "io/bth/bth_search.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <optional>
#include <thread>

#include "io/bth/bth_address.h"
#include "io/bth/bth_platform.h"
#include "vexa/cancel.h"

namespace Vexa {
namespace bth {
namespace {

// A device may take a while to tell the radio its name: ask up to this many
// times, this far apart.
constexpr int kNameQueries = 200;
constexpr std::chrono::milliseconds kNameQueryPause{50};

bool containsIgnoringCase(const std::string& text, const std::string& word) {
  auto equal = [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  };
  return std::search(text.begin(), text.end(), word.begin(), word.end(), equal) != text.end();
}

// The name, or nullopt when the device stays nameless or cannot be asked.
std::optional<std::string> askName(Radio& radio, uint64_t address) {
  for (int attempt = 1; attempt <= kNameQueries; ++attempt) {
    throwIfCancelled("Vexa::bth::searchOn");
    std::optional<std::string> name = radio.queryName(address);
    if (!name) return std::nullopt;
    if (!name->empty()) return name;
    if (attempt < kNameQueries) radio.pause(kNameQueryPause);
  }
  return std::nullopt;
}

}  // namespace

void SearchState::onInRange(uint64_t address, const std::string* name) {
  if (name) {
    foundNames[address] = *name;
  } else {
    nameless.insert(address);
  }
}

void SearchState::clear() {
  foundNames.clear();
  nameless.clear();
}

SearchState& processSearchState() {
  static SearchState state;
  return state;
}

bool isFamilyName(const std::string& name) {
  return containsIgnoringCase(name, "vexa") || containsIgnoringCase(name, "quillbox");
}

std::vector<DevInfo> searchOn(Radio& radio, SearchState& state) {
  state.clear();
  radio.inquire(state);
  for (uint64_t address : state.nameless) {
    if (state.foundNames.count(address) != 0) continue;
    if (std::optional<std::string> name = askName(radio, address)) state.foundNames[address] = *name;
  }
  std::vector<DevInfo> found;
  for (const auto& [address, name] : state.foundNames) {
    if (isFamilyName(name)) found.push_back(DevInfo{formatPath(address), name});
  }
  return found;
}

void Radio::pause(std::chrono::milliseconds time) { std::this_thread::sleep_for(time); }

}  // namespace bth
}  // namespace Vexa
