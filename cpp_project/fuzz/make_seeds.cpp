// Writes the seed corpora of the fuzz targets from the simulator's encoders:
// make_seeds DIR creates DIR/<target>/seed-N. Each seed is laid out as its
// target reads it: parameters and the device's stream at the front, chunk
// sizes and decisions at the back (stored reversed, last byte first read).
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "io/ble/bgapi.h"
#include "vexa_sim/cadrium_frame.h"
#include "vexa_sim/frame_stream.h"
#include "vexa_sim/message_codec.h"
#include "vexa_sim/quillbox_frame.h"
#include "vexa_sim/sample_pattern.h"

namespace {

using Bytes = std::vector<uint8_t>;
using vexa_sim::encodeMessage;

struct Seed {
  Bytes front, back;  // back: in the order the target reads it
  Seed& f(const Bytes& b) {
    front.insert(front.end(), b.begin(), b.end());
    return *this;
  }
  Seed& b(const Bytes& v) {
    back.insert(back.end(), v.begin(), v.end());
    return *this;
  }
};

// A back byte that makes one recv deliver n bytes (1 to 32).
uint8_t chunk(size_t n) { return static_cast<uint8_t>((n - 1) << 3); }
// Back bytes for a target that reads them for chunks and decisions alike:
// large chunks, varied decisions, no time-out.
Bytes tail(size_t n) {
  static const uint8_t kCycle[] = {0xF0, 0xE8, 0xD8, 0x50, 0x28, 0x10, 0xC0, 0x98};
  Bytes out;
  for (size_t i = 0; i < n; ++i) out.push_back(kCycle[i % 8]);
  return out;
}
Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes le16(uint16_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }
Bytes le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes pattern(int n, int salt) {
  Bytes out;
  for (int i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(vexa_sim::samplePattern(i, salt, i % 3, 8)));
  return out;
}
// Channels 5 and on at highBits: the compact board's are narrower.
std::vector<int32_t> samples(int n, int tick, int nBits, int highBits) {
  std::vector<int32_t> v;
  for (int c = 0; c < n; ++c) v.push_back(vexa_sim::samplePattern(tick, 0, c, c < 4 ? nBits : highBits));
  return v;
}

std::map<std::string, std::vector<Seed>> seeds() {
  std::map<std::string, std::vector<Seed>> all;
  const Bytes okEmpty = encodeMessage(0x00, Bytes{});

  // Stream messages: replies, events, frames, an extended length, strays.
  auto& mr = all["message_reader"];
  mr.push_back(Seed().f(cat({okEmpty, encodeMessage(3, {2, 1, 0, 0, 0, 1}), encodeMessage(5, pattern(10, 1)),
                             encodeMessage(0x8001, pattern(12, 2))})).b(tail(48)));
  mr.push_back(Seed().f(cat({{0x05}, okEmpty, encodeMessage(0x01, {5}), encodeMessage(10, le16(1700))})).b(tail(32)));
  mr.push_back(Seed().f(cat({encodeMessage(0x8002, pattern(300, 3)), encodeMessage(0x70, pattern(7, 4))})).b(tail(64)));
  mr.push_back(Seed().f(cat({encodeMessage(11, {7, 1}), {0xAA, 0x00}, encodeMessage(0x00, {0x04, 0x06})})).b(tail(24)));

  // Packets of 1 to 20 bytes, each read whole: an op, then its chunk.
  auto& pr = all["packet_reader"];
  for (int k = 0; k < 3; ++k) {
    Seed s;
    const std::vector<Bytes> packets = {
        {0x00}, {0x03, 2, 1, 0, 0, 0, 1}, cat({{0x80, static_cast<uint8_t>(k)}, pattern(18, k)}),
        {0x08, 3}, cat({{0x0C}, pattern(19, k + 5)}), {0x85}};
    for (size_t i = 0; i + k < packets.size(); ++i) s.f(packets[i + k]).b({0x00, chunk(packets[i + k].size())});
    pr.push_back(s);
  }

  // Events of every kind, with their lengths, and frames of {1, 1, 16, 3}.
  auto record = [](uint16_t code, const Bytes& payload) {
    Bytes r = code >= 0x80 ? Bytes{uint8_t(code >> 8), uint8_t(code)} : Bytes{uint8_t(code)};
    r.push_back(static_cast<uint8_t>(payload.size()));
    return cat({r, payload});
  };
  all["event_builder"] = {
      Seed().f(cat({{0}, record(3, {1, 9, 0, 0, 0, 1}), record(4, pattern(5, 1)), record(5, pattern(15, 2)),
                    record(7, pattern(14, 3)), record(9, {1}), record(10, le16(1650))})).b(tail(8)),
      Seed().f(cat({{1}, record(0x8000, pattern(8, 4)), record(11, {7}), record(12, pattern(9, 5)), record(13, {4}),
                    record(0x75, pattern(3, 6)), record(8, {2}), record(0x8002, pattern(4, 7))})).b(tail(8))};

  // Layouts from the input, frames from the simulator's frame stream.
  for (const std::vector<vexa_sim::StreamSource>& sources : std::vector<std::vector<vexa_sim::StreamSource>>{
           {{0, 16, 1, 0x0003}, {1, 8, 2, 0x0001}},
           {{0, 24, 1, 0x0101}, {1, 16, 3, 0x0007}, {2, 8, 4, 0x00F0}},
           {{0, 8, 2, 0x0001}}}) {
    Seed s;
    s.f({static_cast<uint8_t>(sources.size() - 1)});
    for (const auto& src : sources) {
      s.f({static_cast<uint8_t>(src.divisor - 1), static_cast<uint8_t>(src.nBits / 8 - 1)}).f(le16(src.chMask));
    }
    vexa_sim::FrameStream stream(vexa_sim::StartRequest{2, 500.0f, sources}, 4, vexa_sim::TickClock::TimePoint());
    for (int i = 0; i < 4; ++i) {
      const vexa_sim::DataFrame frame = stream.takeFrame();
      s.f(le16(frame.seq)).f({static_cast<uint8_t>(frame.payload.size())}).f(frame.payload);
    }
    all["frame_decoder"].push_back(s.b(tail(16)));
  }

  // The oldest family (8 bits and four channels, 12 bits and eight, the Z
  // start with six channels but every eighth frame), then the banner that
  // follows a stop.
  struct OldRun {
    Bytes mode;
    int frames, bits, firstSeq;
    std::string banner;
    Bytes back;
  };
  for (const OldRun& r : {OldRun{{0x00, 0x0F}, 5, 8, 3, "xx\nCadrium 2 v.3.1\n", cat({{3, 3, 3, 3, 0}, tail(24)})},
                          OldRun{{0x02, 0xFF}, 4, 12, 0, "Cadrium 2 v.3.1\n", tail(32)},
                          OldRun{{0x01}, 10, 12, 0, "Cadrium EMG v.1.5\n", tail(40)}}) {
    Seed s;
    s.f(r.mode);
    for (int k = 0; k < r.frames; ++k) {
      const int n = r.bits == 8 ? 4 : r.mode[0] == 1 && k % 8 != 0 ? 6 : 8;
      const bool input = r.bits == 8 ? k % 2 : r.frames == 4 && k == 2;
      const auto v = samples(n, k, r.bits, r.bits);
      s.f(vexa_sim::encodeCadriumFrame(static_cast<uint8_t>(k + r.firstSeq), input, v, r.bits));
    }
    all["old_frames"].push_back(s.f(text(r.banner)).b(r.back));
  }

  // The compact board: frames, a stray byte, the state and the banner.
  for (int packets = 0; packets < 2; ++packets) {
    for (int mask : {0x01, 0x3F, 0x15}) {
      Seed s;
      s.f({static_cast<uint8_t>(packets | 6), static_cast<uint8_t>(mask - 1)});
      for (int k = 0; k < 6; ++k) {
        if (k == 2) s.f({0x5A});
        const auto v = samples(__builtin_popcount(mask), k, 10, 6);
        s.f(vexa_sim::encodeQuillboxFrame(static_cast<uint8_t>(k), static_cast<uint8_t>(k * 3), v));
      }
      s.f(text("Quillbox_v5.1\n")).f(vexa_sim::encodeQuillboxState(vexa_sim::QuillboxState()));
      all["compact_board"].push_back(s.b(tail(40)));
    }
  }

  // Handshakes: what each kind of device answers, in order.
  auto& vl = all["version_lines"];
  for (const std::string line : {"Quillbox_v5.1\n", "Cadrium 2 v.3.1\n", "Cadrium EMG v.1.5\n"}) {
    vl.push_back(Seed().f({0}).f(text(line)).b(line[0] == 'Q' ? Bytes{} : Bytes{0x07}).b({chunk(line.size())}));
  }
  vl.push_back(Seed().f({0}).f(encodeMessage(0, text("tessari")))
                   .f(encodeMessage(0, {0x02, 0x01, 0x03, 0x04, 0xFF, 0xFF}))
                   .f(encodeMessage(0, {0x00, 0x12, 0xAB, 0xFF})).b({0x07}).b(tail(12)));
  vl.push_back(Seed().f({0}).f(encodeMessage(0, text("Fernlit")))
                   .f(encodeMessage(0, {0x08, 0x01, 0x04, 0x00, 0x01, 0x02})).f(encodeMessage(0, {0x03}))
                   .b({0x07}).b(tail(12)));
  vl.push_back(Seed().f({1}).f(text("Quillbox_v4.2")).b({chunk(13)}));
  vl.push_back(Seed().f({1}).f(cat({{0x00}, text("tessarimod")})).f({0x00, 0x02, 0x1E, 0x03, 0x00, 0x00, 0x01})
                   .f({0x00, 0x01, 0x02, 0x03}).b({chunk(11), chunk(7), chunk(4)}));

  // Start commands: edge values and whole numbers for every field.
  auto& sc = all["start_commands"];
  const Bytes freq1000 = cat({{0xF0}, le32(4000)});
  sc.push_back(Seed().f({0x01}).f(freq1000).f({2, 1, 1, 4, 8, 2, 1, 3, 1}).b({0, 1}));
  sc.push_back(Seed().f({0x09}).f(freq1000).f({3, 0, 1, 5, 9, 6, 2, 4, 10, 7, 3, 3, 11}).b({0, 0, 0, 0}));
  sc.push_back(Seed().f({0x00}).f(freq1000).f({1, 1, 1, 4, 8}).f(freq1000).f({1, 1, 1, 4, 8}).b({0, 0, 0, 1}));
  sc.push_back(Seed().f({0x11}).f(freq1000).f({30}).b({1, 0}));
  for (uint8_t i = 0; i < 30; ++i) sc.back().f({0xF0, i, 0, 0, 0, 1, 3, 8});

  // The dongle: a whole connection, then values; or the link's own reads.
  namespace bgapi = Vexa::bgapi;
  auto response = [](uint8_t cls, uint8_t id, const Bytes& p) { return cat({{0x00, uint8_t(p.size()), cls, id}, p}); };
  auto event = [](uint8_t cls, uint8_t id, const Bytes& p) { return cat({{0x80, uint8_t(p.size()), cls, id}, p}); };
  auto uuid = [](const bgapi::Uuid& u) { return Bytes(u.begin(), u.end()); };
  const Bytes ok = response(4, 5, {0, 0, 0}), done = event(4, 1, {0, 0, 0, 0, 0});
  const Bytes connection = cat(
      {response(6, 3, {0, 0, 0}), event(3, 0, cat({{0, 5}, pattern(14, 1)})), response(4, 1, {0, 0, 0}),
       event(4, 2, cat({{0}, le16(16), le16(40), {16}, uuid(bgapi::kServiceUuid)})), done, response(4, 3, {0, 0, 0}),
       event(4, 4, cat({{0}, le16(20), {16}, uuid(bgapi::kCommandCharUuid)})),
       event(4, 4, cat({{0}, le16(30), {16}, uuid(bgapi::kDataCharUuid)})), done, ok, done, ok, done});
  for (uint8_t wait : {0, 2}) {
    all["bgapi_reader"].push_back(Seed().f({static_cast<uint8_t>(1 | wait)}).f(connection)
                                      .f(event(4, 5, cat({{0}, le16(30), {1, 7}, pattern(7, 2)}))).f(ok).f(done)
                                      .f(event(4, 5, cat({{0}, le16(30), {1, 20}, pattern(20, 3)}))).b(tail(64)));
  }
  all["bgapi_reader"].push_back(
      Seed().f({2}).f(cat({response(6, 4, {0, 0}),
                           event(6, 0, cat({{0xC4, 4}, pattern(6, 4), {0, 0, 12, 11, 9}, text("Vexa QZ12")})),
                           event(3, 0, {1, 5, 0, 0}), done, event(4, 5, cat({{0}, le16(30), {1, 3}, pattern(3, 5)}))}))
          .b({0x06 | (10 << 3), 0x00, 0x01, 0x02, 0x04 | (8 << 3)}).b(tail(32)));

  // The exported interface: calls against each simulated family.
  all["exports"] = {
      Seed().f({0x02, 3}).f(le32(3)).f({16, 6, 10, 10, 9, 11, 1}).b(tail(16)),
      Seed().f({0x06, 4, 2, 1, 0, 0x03, 0x00, 2, 1, 0x01, 0x00, 6, 8, 8, 6, 5, 9, 0}).b(tail(16)),
      Seed().f({0x00, 2, 4, 1, 1, 0x60, 1, 12, 6, 12, 9, 2, 4, 1, 1, 1, 1, 12, 6, 4, 9}).b(tail(16)),
      Seed().f({0x01, 3}).f(le32(0x3F)).f({8, 6, 12, 9, 10, 3}).f(le32(0x05)).f({8, 7, 6, 9, 1}).b(tail(16)),
      Seed().f({0x02, 14, 6}).f(encodeMessage(8, {1})).f({5}).f(le32(1)).f({12, 0, 6, 5, 12, 1, 2, 3, 4, 1, 10})};
  return all;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  for (const auto& [target, list] : seeds()) {
    for (size_t i = 0; i < list.size(); ++i) {
      const std::string path = std::string(argv[1]) + "/" + target + "/seed-" + std::to_string(i + 1);
      std::ofstream out(path, std::ios::binary);
      Bytes bytes = list[i].front;  // then the back bytes, last read first
      bytes.insert(bytes.end(), list[i].back.rbegin(), list[i].back.rend());
      out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
      if (!out) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
      }
    }
  }
  return 0;
}
