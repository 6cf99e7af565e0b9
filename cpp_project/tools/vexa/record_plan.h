// What "vexa record" is asked for, from its options: the sources to start,
// the texts that describe the channels, and the checks that make a bad form
// a usage error before any device is contacted.
#ifndef VEXA_TOOLS_VEXA_RECORD_PLAN_H_
#define VEXA_TOOLS_VEXA_RECORD_PLAN_H_

#include <optional>
#include <string>
#include <vector>

#include "vexa/device_family.h"
#include "vexa/recorder.h"
#include "vexa/signals_dev.h"

namespace vexa_cli {

struct RecordOptions {
  std::string path, output;
  std::string trace;                 // --trace: the wire trace file, one path only
  std::vector<std::string> paths;    // every PATH given; path is the first
  std::string channels;              // --channels: one character per port from port 1
  std::vector<std::string> sources;  // --source PORT:MASK[:DIVISOR]
  std::vector<std::string> labels, units, physical;  // N=TEXT, N=TEXT, N=MIN:MAX
  std::optional<std::string> subject, note;
  double rate = 0;
  int bits = 16;
  double seconds = 0;  // 0: until stopped
  bool force = false;
};

// "PORT:MASK[:DIVISOR]" (MASK decimal or 0x-hexadecimal) as a source with
// bits; empty when the text is no such form.
std::optional<Vexa::Source> parseSource(const std::string& text, int bits);
// What is wrong with one --source, --label, --unit or --physical text
// (option names the option), empty when nothing; channelCount 0 checks the
// form only.
std::string sourceError(const std::string& text);
std::string channelTextError(const std::string& option, const std::string& text, size_t channelCount);

// The sources of --source, or of --channels (one channel per port at the
// base rate). Assumes the forms were checked.
std::vector<Vexa::Source> sourcesOf(const RecordOptions& o);
size_t channelCount(const std::vector<Vexa::Source>& sources);

// The files of several devices recorded into one folder: each path made a
// safe file name (letters, digits, '.', '-' and '_'; at most 64 characters)
// with ".bdf", unique whatever the letter case ("SIM" and "sim" give
// "SIM.bdf" and "sim-2.bdf").
std::vector<std::string> fileNamesFor(const std::vector<std::string>& paths);

// Why family cannot sample at rate, empty when it can.
std::string rateRefusal(Vexa::DeviceFamily family, double rate);

// The recorded channels of sources in the order the samples arrive; the
// compact board's values are 10 bits (6 on its fifth and sixth) whatever the
// start asked.
std::vector<Vexa::RecordedChannel> recordedChannels(const std::vector<Vexa::Source>& sources,
                                                    Vexa::DeviceFamily family);

// The descriptions, subject and note of info from a replayed recording (by
// port and channel) and then from the options, which win.
void describeChannels(Vexa::RecordingInfo& info, const RecordOptions& o, const Vexa::RecordingInfo* replayed);

}  // namespace vexa_cli

#endif  // VEXA_TOOLS_VEXA_RECORD_PLAN_H_
