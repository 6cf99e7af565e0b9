// Reads a wire trace: the device protocol's bytes as the library exchanged
// them with a device, one transport call per line with its time and
// direction, after a short header of '#' lines.
#ifndef VEXA_SIM_WIRE_TRACE_FILE_H_
#define VEXA_SIM_WIRE_TRACE_FILE_H_

#include <cstdint>
#include <string>
#include <vector>

namespace vexa_sim {

struct TraceChunk {
  int line = 0;         // in the file, from 1
  double seconds = 0;   // since the trace started
  bool fromHost = false;  // "out": host to device; else "in"
  std::vector<uint8_t> bytes;
};

struct WireTrace {
  std::vector<TraceChunk> chunks;  // in file order, times never going back
  bool cut = false;    // the writer's byte limit ended it early
};

// Throws std::invalid_argument naming the file and line of what is wrong:
// no trace header, a line that is not "<seconds> <out|in> <hex>", hex that
// is not whole bytes, a time that goes back.
WireTrace parseWireTrace(const std::string& text, const std::string& name);
// Throws std::invalid_argument also when the file cannot be read.
WireTrace readWireTrace(const std::string& path);

// Lowercase hex, two digits a byte, nothing between.
std::string hexOf(const std::vector<uint8_t>& bytes);

}  // namespace vexa_sim

#endif  // VEXA_SIM_WIRE_TRACE_FILE_H_
