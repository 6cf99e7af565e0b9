// The platform-neutral search: names from notifications and from queries,
// the family filter and the order of the result.
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <typeinfo>

#include "io/bth/bth.h"
#include "io/bth/bth_platform.h"
#include "io/bth/bth_search.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace bth {
namespace {

using Name = std::optional<std::string>;

class FakeRadio : public Radio {
 public:
  void inquire(SearchState& state) override {
    for (const auto& [address, name] : inRange) state.onInRange(address, name ? &*name : nullptr);
  }
  // Scripted answers per address; once they run out the radio still does
  // not know the name.
  std::optional<std::string> queryName(uint64_t address) override {
    queried.push_back(address);
    auto& script = answers[address];
    if (script.empty()) return std::string();
    Name next = script.front();
    script.pop_front();
    return next;
  }
  void pause(std::chrono::milliseconds time) override { pauses.push_back(static_cast<int>(time.count())); }

  std::vector<std::pair<uint64_t, Name>> inRange;
  std::map<uint64_t, std::deque<Name>> answers;
  std::vector<uint64_t> queried;
  std::vector<int> pauses;
};

std::vector<std::string> paths(const std::vector<DevInfo>& found) {
  std::vector<std::string> out;
  for (const DevInfo& info : found) out.push_back(info.path + "=" + info.description);
  return out;
}

TEST(BthSearch, KeepsFamilyNamesInAnyCaseAnywhere) {
  struct Case {
    const char* name;
    bool listed;
  } const cases[] = {{"Vexa", true},        {"VEXA-1234", true},     {"my vExA kit", true},
                     {"Quillbox", true},    {"qUILLBOX_v5", true},   {"vex a", false},
                     {"Headset", false},    {"", false},             {"QuillBo", false}};
  for (const Case& c : cases) EXPECT_EQ(isFamilyName(c.name), c.listed) << c.name;
}

TEST(BthSearch, MergesNotificationsAndOrdersByAddress) {
  FakeRadio radio;
  radio.inRange = {
      {0x30, Name("Vexa C")},
      {0x10, std::nullopt},           // named later in the same inquiry
      {0x20, Name("Headset")},
      {0x10, Name("Vexa A")},
      {0x30, Name("Vexa C renamed")},  // the later name wins
      {0x05, std::nullopt},           // asked for its name afterwards
      {0x05, std::nullopt},
  };
  radio.answers[0x05] = {Name(""), Name("quillbox B")};
  SearchState state;
  const auto found = searchOn(radio, state);
  EXPECT_EQ(paths(found), (std::vector<std::string>{"BTH00:00:00:00:00:05=quillbox B",
                                                    "BTH00:00:00:00:00:10=Vexa A",
                                                    "BTH00:00:00:00:00:30=Vexa C renamed"}));
  // Only the device that never brought its name along was asked, once a
  // try, with a pause between.
  EXPECT_EQ(radio.queried, (std::vector<uint64_t>{0x05, 0x05}));
  EXPECT_EQ(radio.pauses, std::vector<int>{50});
}

TEST(BthSearch, NamelessDevicesAreAskedAtMost200Times) {
  FakeRadio radio;
  radio.inRange = {{0x01, std::nullopt}, {0x02, std::nullopt}, {0x03, std::nullopt}};
  radio.answers[0x02] = {std::nullopt};  // the query itself fails: no retry
  std::deque<Name> late(199, Name(""));
  late.push_back(Name("Vexa late"));
  radio.answers[0x03] = late;
  SearchState state;
  const auto found = searchOn(radio, state);
  EXPECT_EQ(paths(found), std::vector<std::string>{"BTH00:00:00:00:00:03=Vexa late"});
  int asked[4] = {};
  for (uint64_t address : radio.queried) ++asked[address];
  EXPECT_EQ(asked[1], 200);
  EXPECT_EQ(asked[2], 1);
  EXPECT_EQ(asked[3], 200);
  EXPECT_EQ(radio.pauses.size(), 199u + 199u);
}

TEST(BthSearch, EachSearchStartsEmpty) {
  SearchState state;
  state.foundNames[0x99] = "Vexa stale";
  state.nameless.insert(0x98);
  FakeRadio radio;
  EXPECT_TRUE(searchOn(radio, state).empty());
  EXPECT_TRUE(radio.queried.empty());
}

TEST(BthSearch, OneSearchAtATime) {
  std::lock_guard<std::mutex> running(processSearchState().busy);
  try {
    BTH::findDevices();
    FAIL() << "second search started";
  } catch (const Notification::AdapterNotFound&) {
    FAIL() << "reached the radio";
  } catch (const Exception& e) {
    EXPECT_EQ(typeid(e), typeid(Exception));
    EXPECT_NE(e.location().find("(BTH::findDevices)"), std::string::npos);
  }
}

}  // namespace
}  // namespace bth
}  // namespace Vexa
