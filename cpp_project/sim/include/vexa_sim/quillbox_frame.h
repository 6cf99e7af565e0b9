// Data frames and the state reply of the compact board. A frame for n = 1
// to 6 channels is n + 2 bytes (one more for n = 3, 4, 5), its fields
// counted from the end: the last byte holds a 4-bit sequence number over a
// CRC-4 (x^4 + x + 1, initial 0, over every nibble before it); the one
// before it the four digital inputs (bit 7: input 0) over bits 9..6 of
// value 0; then values 0 to 3 (10 bits) and 4 and 5 (6 bits), packed
// towards the front.
#ifndef VEXA_SIM_QUILLBOX_FRAME_H_
#define VEXA_SIM_QUILLBOX_FRAME_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vexa_sim {

// Throws std::invalid_argument outside 1 to 6 channels.
size_t quillboxFrameSize(size_t nChannels);
// Width of value k: 10 bits for values 0 to 3, 6 for 4 and 5.
int quillboxValueBits(size_t index);

// inputs: bit 3 = input 0 ... bit 0 = input 3. Values are masked to their
// widths. Throws std::invalid_argument outside 1 to 6 values.
std::vector<uint8_t> encodeQuillboxFrame(uint8_t seq, uint8_t inputs,
                                         const std::vector<int32_t>& values);

// What the board answers to the state request, 16 bytes: six 16-bit
// analog values and the battery (little-endian), aux, then the digital
// inputs in bits 7..4 (bit 7: input 0).
struct QuillboxState {
  std::array<uint16_t, 6> analog = {100, 200, 300, 400, 500, 600};
  uint16_t battery = 800;
  uint8_t aux = 0;
  uint8_t digital = 0;  // bit 3 = input 0 ... bit 0 = input 3
};

std::vector<uint8_t> encodeQuillboxState(const QuillboxState& state);

}  // namespace vexa_sim

#endif  // VEXA_SIM_QUILLBOX_FRAME_H_
