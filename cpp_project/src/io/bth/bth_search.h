// The platform-neutral part of a Bluetooth classic search: what the radio
// reported, names asked for the devices seen without one, and the devices
// of this family picked out by name.
#ifndef VEXA_SRC_IO_BTH_BTH_SEARCH_H_
#define VEXA_SRC_IO_BTH_BTH_SEARCH_H_

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "vexa/dev_info.h"

namespace Vexa {
namespace bth {

class Radio;

// What one search has seen. The radio's listener writes it while the
// inquiry runs; the searching thread reads it only after that has ended.
class SearchState {
 public:
  // A device in range: with its name (replacing any earlier one), or,
  // when name is null, as one still to be asked for its name.
  void onInRange(uint64_t address, const std::string* name);
  void clear();

  // By address, ascending.
  std::map<uint64_t, std::string> foundNames;
  std::set<uint64_t> nameless;
  // Held for the length of one search: one search at a time per process.
  std::mutex busy;
};

// The process-wide state of the searches.
SearchState& processSearchState();

// Runs one search on radio into state (emptied first) and returns the
// devices whose names mark them as this family's, by address ascending.
std::vector<DevInfo> searchOn(Radio& radio, SearchState& state);

// True when name contains "vexa" or "quillbox" in any letter case.
bool isFamilyName(const std::string& name);

}  // namespace bth
}  // namespace Vexa

#endif  // VEXA_SRC_IO_BTH_BTH_SEARCH_H_
