// Reads a BDF+ file back into one plain shape, either with EDFlib (an
// independent reader) or with the library's own reader, so that a test can
// hold both to the same expectations.
#ifndef VEXA_TESTS_RECORD_READ_BACK_H_
#define VEXA_TESTS_RECORD_READ_BACK_H_

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "vexa/bdf_reader.h"

#ifdef VEXA_HAVE_EDFLIB
#include <edflib.h>
#endif

namespace vexa_test {

// A path in the temporary folder, unique per process: the tests of other
// builds may run at the same time.
inline std::string tempPath(const std::string& name) {
  static const auto run = std::chrono::steady_clock::now().time_since_epoch().count();
  return (std::filesystem::temp_directory_path() / ("vexa_rec_" + std::to_string(run) + "_" + name)).string();
}

inline std::string slurp(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

struct Annotation {
  long long onset, duration;  // 100 ns units; duration -1 when absent
  std::string text;
  bool operator==(const Annotation& o) const {
    return onset == o.onset && duration == o.duration && text == o.text;
  }
  friend std::ostream& operator<<(std::ostream& out, const Annotation& a) {
    return out << "{" << a.onset << ", " << a.duration << ", \"" << a.text << "\"}";
  }
};

// A channel layout as plain values, to compare whole lists at once.
inline std::vector<std::array<int, 4>> layout(const std::vector<Vexa::RecordedChannel>& channels) {
  std::vector<std::array<int, 4>> out;
  for (const auto& c : channels) out.push_back({c.port, c.channel, c.freqDivisor, c.nBits});
  return out;
}

struct ReadBack {
  bool ok = false;
  long long records = 0, recordDuration = 0;
  long long startSubsecond = 0;  // 100 ns units: the first record's onset
  int startHour = 0, startMinute = 0, startSecond = 0;
  std::vector<std::string> labels, units;
  std::vector<int> perRecord, digitalMin, digitalMax;
  std::vector<double> physicalMin, physicalMax;
  std::string patientName, recordingExtra;  // EDFlib only: the subfields it parses
  std::vector<std::vector<int>> samples;  // per signal, the whole file
  std::vector<Annotation> annotations;
};

inline ReadBack readOwn(const std::string& path) {
  ReadBack r;
  Vexa::BdfReader reader(path);
  const Vexa::BdfHeader& h = reader.header();
  r.records = h.records;
  r.recordDuration = h.recordDuration;
  const Vexa::RecordingStart start = reader.recordingInfo().start;
  std::tie(r.startHour, r.startMinute, r.startSecond) = std::make_tuple(start.hour, start.minute, start.second);
  for (const Vexa::BdfSignal& s : h.signals) {
    r.labels.push_back(s.label);
    r.units.push_back(s.physicalDimension);
    r.physicalMin.push_back(s.physicalMin);
    r.physicalMax.push_back(s.physicalMax);
    r.perRecord.push_back(s.samplesPerRecord);
    r.digitalMin.push_back(s.digitalMin);
    r.digitalMax.push_back(s.digitalMax);
  }
  r.samples.resize(h.signals.size());
  Vexa::BdfRecord rec;
  for (long long i = 0; reader.readRecord(rec); ++i) {
    if (i == 0) r.startSubsecond = rec.onset;
    if (rec.onset != r.startSubsecond + i * h.recordDuration) return r;  // the time-keeping list is wrong
    for (size_t s = 0; s < rec.samples.size(); ++s) {
      r.samples[s].insert(r.samples[s].end(), rec.samples[s].begin(), rec.samples[s].end());
    }
    for (const Vexa::BdfAnnotation& a : rec.annotations) r.annotations.push_back({a.onset, a.duration, a.text});
  }
  r.ok = true;
  return r;
}

#ifdef VEXA_HAVE_EDFLIB
inline ReadBack readEdflib(const std::string& path) {
  ReadBack r;
  static edf_hdr_struct h;  // large; one at a time
  if (edfopen_file_readonly(path.c_str(), &h, EDFLIB_READ_ALL_ANNOTATIONS) != 0) return r;
  r.records = h.datarecords_in_file;
  r.recordDuration = h.datarecord_duration;
  r.startSubsecond = h.starttime_subsecond;
  std::tie(r.startHour, r.startMinute, r.startSecond) =
      std::make_tuple(h.starttime_hour, h.starttime_minute, h.starttime_second);
  r.patientName = h.patient_name;
  r.recordingExtra = h.recording_additional;
  r.recordingExtra.erase(r.recordingExtra.find_last_not_of(' ') + 1);
  for (int s = 0; s < h.edfsignals; ++s) {
    const edf_param_struct& p = h.signalparam[s];
    r.labels.push_back(p.label);
    r.labels.back().erase(r.labels.back().find_last_not_of(' ') + 1);
    r.units.push_back(p.physdimension);
    r.units.back().erase(r.units.back().find_last_not_of(' ') + 1);
    r.physicalMin.push_back(p.phys_min);
    r.physicalMax.push_back(p.phys_max);
    r.perRecord.push_back(p.smp_in_datarecord);
    r.digitalMin.push_back(p.dig_min);
    r.digitalMax.push_back(p.dig_max);
    std::vector<int> v(static_cast<size_t>(p.smp_in_file));
    if (edfread_digital_samples(h.handle, s, static_cast<int>(v.size()), v.data()) != static_cast<int>(v.size())) {
      edfclose_file(h.handle);
      return r;
    }
    r.samples.push_back(std::move(v));
  }
  for (long long i = 0; i < h.annotations_in_file; ++i) {
    edf_annotation_struct a;
    edf_get_annotation(h.handle, static_cast<int>(i), &a);
    r.annotations.push_back({a.onset, a.duration_l < 0 ? -1 : a.duration_l, a.annotation});
  }
  edfclose_file(h.handle);
  r.ok = true;
  return r;
}
#endif

// Both readers, EDFlib first; EDFlib is skipped where it is not installed.
inline std::vector<std::pair<const char*, ReadBack (*)(const std::string&)>> readers() {
  return {
#ifdef VEXA_HAVE_EDFLIB
      {"EDFlib", readEdflib},
#endif
      {"own reader", readOwn}};
}

}  // namespace vexa_test

#endif  // VEXA_TESTS_RECORD_READ_BACK_H_
