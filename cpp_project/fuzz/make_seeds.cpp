// Writes the seed corpora of the fuzz targets from the simulator's encoders:
// make_seeds DIR creates DIR/<target>/seed-N. Each seed is laid out as its
// target reads it: parameters and the device's stream at the front, chunk
// sizes and decisions at the back (stored reversed, last byte first read).
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

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
  Seed& text(const std::string& s) { return f(Bytes(s.begin(), s.end())); }
  Seed& b(const Bytes& v) {
    back.insert(back.end(), v.begin(), v.end());
    return *this;
  }
  Bytes bytes() const {
    Bytes out = front;
    out.insert(out.end(), back.rbegin(), back.rend());
    return out;
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
    for (size_t i = 0; i + k < packets.size(); ++i) {
      s.f(packets[i + k]).b({0x00, chunk(packets[i + k].size())});
    }
    pr.push_back(s);
  }

  // Events of every kind, with their lengths, and frames of {1, 1, 16, 3}.
  auto& eb = all["event_builder"];
  auto record = [](uint16_t code, const Bytes& payload) {
    Bytes r = code >= 0x80 ? Bytes{uint8_t(code >> 8), uint8_t(code)} : Bytes{uint8_t(code)};
    r.push_back(static_cast<uint8_t>(payload.size()));
    r.insert(r.end(), payload.begin(), payload.end());
    return r;
  };
  eb.push_back(Seed().f({0}).f(cat({record(3, {1, 9, 0, 0, 0, 1}), record(4, pattern(5, 1)), record(5, pattern(15, 2)),
                                    record(7, pattern(14, 3)), record(9, {1}), record(10, le16(1650))}))
                   .b(tail(8)));
  eb.push_back(Seed().f({1}).f(cat({record(0x8000, pattern(8, 4)), record(11, {7}), record(12, pattern(9, 5)),
                                    record(13, {4}), record(0x75, pattern(3, 6)), record(8, {2}),
                                    record(0x8002, pattern(4, 7))}))
                   .b(tail(8)));

  // Layouts from the input, frames from the simulator's frame stream.
  auto& fd = all["frame_decoder"];
  const std::vector<std::vector<vexa_sim::StreamSource>> layouts = {
      {{0, 16, 1, 0x0003}, {1, 8, 2, 0x0001}},
      {{0, 24, 1, 0x0101}, {1, 16, 3, 0x0007}, {2, 8, 4, 0x00F0}},
      {{0, 8, 2, 0x0001}},
  };
  for (const auto& sources : layouts) {
    Seed s;
    s.f({static_cast<uint8_t>(sources.size() - 1)});
    for (const auto& src : sources) {
      s.f({static_cast<uint8_t>(src.divisor - 1), static_cast<uint8_t>(src.nBits / 8 - 1)}).f(le16(src.chMask));
    }
    vexa_sim::StartRequest request{2, 500.0f, sources};
    vexa_sim::FrameStream stream(request, 4, vexa_sim::TickClock::TimePoint());
    for (int i = 0; i < 4; ++i) {
      const vexa_sim::DataFrame frame = stream.takeFrame();
      if (frame.payload.size() > 255) continue;
      s.f(le16(frame.seq)).f({static_cast<uint8_t>(frame.payload.size())}).f(frame.payload);
    }
    fd.push_back(s.b(tail(16)));
  }

  // The oldest family: frames, then the banner that follows a stop.
  auto& of = all["old_frames"];
  auto values = [](int n, int tick) {
    std::vector<int32_t> v;
    for (int c = 0; c < n; ++c) v.push_back(vexa_sim::samplePattern(tick, 0, c, 12));
    return v;
  };
  {
    Seed s;
    s.f({0x00, 0x0F});  // @START, 8 bits, four channels
    for (int k = 0; k < 5; ++k) {
      std::vector<int32_t> v;
      for (int c = 0; c < 4; ++c) v.push_back(vexa_sim::samplePattern(k, 0, c, 8));
      s.f(vexa_sim::encodeCadriumFrame(static_cast<uint8_t>(k + 3), k % 2, v, 8));
    }
    of.push_back(s.text("xx\nCadrium 2 v.3.1\n").b({0x03, 0x03, 0x03, 0x03, 0x00}).b(tail(24)));
  }
  {
    Seed s;
    s.f({0x02, 0xFF});  // @START, 12 bits, eight channels
    for (int k = 0; k < 4; ++k) s.f(vexa_sim::encodeCadriumFrame(static_cast<uint8_t>(k), k == 2, values(8, k), 12));
    of.push_back(s.text("Cadrium 2 v.3.1\n").b(tail(32)));
  }
  {
    Seed s;
    s.f({0x01});  // the Z start: eight channels every eighth frame, else six
    for (int k = 0; k < 10; ++k) {
      s.f(vexa_sim::encodeCadriumFrame(static_cast<uint8_t>(k), false, values(k % 8 == 0 ? 8 : 6, k), 12));
    }
    of.push_back(s.text("Cadrium EMG v.1.5\n").b(tail(40)));
  }

  // The compact board: frames, a stray byte, the state and the banner.
  auto& cb = all["compact_board"];
  for (int packets = 0; packets < 2; ++packets) {
    for (int mask : {0x01, 0x3F, 0x15}) {
      Seed s;
      s.f({static_cast<uint8_t>(packets | 6), static_cast<uint8_t>(mask - 1)});
      int n = 0;
      for (int m = mask; m != 0; m &= m - 1) ++n;
      for (int k = 0; k < 6; ++k) {
        std::vector<int32_t> v;
        for (int c = 0; c < n; ++c) v.push_back(vexa_sim::samplePattern(k, 0, c, c < 4 ? 10 : 6));
        if (k == 2) s.f({0x5A});
        s.f(vexa_sim::encodeQuillboxFrame(static_cast<uint8_t>(k), static_cast<uint8_t>(k * 3), v));
      }
      s.text("Quillbox_v5.1\n").f(vexa_sim::encodeQuillboxState(vexa_sim::QuillboxState()));
      cb.push_back(s.b(tail(40)));
    }
  }

  // Handshakes: what each kind of device answers, in order.
  auto& vl = all["version_lines"];
  vl.push_back(Seed().f({0}).text("Quillbox_v5.1\n").b({chunk(14)}));
  vl.push_back(Seed().f({0}).text("Cadrium 2 v.3.1\n").b({0x07, chunk(16)}));
  vl.push_back(Seed().f({0}).text("Cadrium EMG v.1.5\n").b({0x07, chunk(18)}));
  vl.push_back(Seed()
                   .f({0})
                   .f(encodeMessage(0, Bytes{'t', 'e', 's', 's', 'a', 'r', 'i'}))
                   .f(encodeMessage(0, {0x02, 0x01, 0x03, 0x04, 0xFF, 0xFF}))
                   .f(encodeMessage(0, {0x00, 0x12, 0xAB, 0xFF}))
                   .b({0x07})
                   .b(tail(12)));
  vl.push_back(Seed()
                   .f({0})
                   .f(encodeMessage(0, Bytes{'F', 'e', 'r', 'n', 'l', 'i', 't'}))
                   .f(encodeMessage(0, {0x08, 0x01, 0x04, 0x00, 0x01, 0x02}))
                   .f(encodeMessage(0, {0x03}))
                   .b({0x07})
                   .b(tail(12)));
  vl.push_back(Seed().f({1}).text("Quillbox_v4.2").b({chunk(13)}));
  {
    const Bytes description = cat({{0x00}, Bytes{'t', 'e', 's', 's', 'a', 'r', 'i', 'm', 'o', 'd'}});
    const Bytes version = {0x00, 0x02, 0x1E, 0x03, 0x00, 0x00, 0x01};
    const Bytes uid = {0x00, 0x01, 0x02, 0x03};
    vl.push_back(Seed().f({1}).f(description).f(version).f(uid).b(
        {chunk(description.size()), chunk(version.size()), chunk(uid.size())}));
  }

  // Start commands: edge values and whole numbers for every field.
  auto& sc = all["start_commands"];
  const Bytes freq1000 = cat({{0xF0}, le32(4000)});
  sc.push_back(Seed().f({0x01}).f(freq1000).f({2, 1, 1, 4, 8, 2, 1, 3, 1}).b({0, 1}));
  sc.push_back(Seed().f({0x09}).f(freq1000).f({3, 0, 1, 5, 9, 6, 2, 4, 10, 7, 3, 3, 11}).b({0, 0, 0, 0}));
  sc.push_back(Seed().f({0x00}).f(freq1000).f({1, 1, 1, 4, 8}).f(freq1000).f({1, 1, 1, 4, 8}).b({0, 0, 0, 1}));
  {
    Seed s;
    s.f({0x11}).f(freq1000).f({30});
    for (int i = 0; i < 30; ++i) s.f({0xF0}).f(le32(i)).f({1, 3, 8});
    sc.push_back(s.b({1, 0}));
  }

  // The dongle: a whole connection, then values; or the link's own reads.
  auto& bg = all["bgapi_reader"];
  auto response = [](uint8_t cls, uint8_t id, const Bytes& p) { return cat({{0x00, uint8_t(p.size()), cls, id}, p}); };
  auto event = [](uint8_t cls, uint8_t id, const Bytes& p) { return cat({{0x80, uint8_t(p.size()), cls, id}, p}); };
  const Bytes service = {0x34, 0x22, 0x65, 0x7E, 0x71, 0x0B, 0xD0, 0xA6, 0x1B, 0x4E, 0x82, 0x08, 0x8A, 0x48, 0x66, 0xC5};
  const Bytes commandChar = {0xEA, 0xFC, 0x93, 0x41, 0x8F, 0xA4, 0x30, 0x87,
                             0x74, 0x4C, 0x0A, 0xBF, 0x11, 0xEB, 0x51, 0x40};
  const Bytes dataChar = {0x33, 0x36, 0xFF, 0xAD, 0x29, 0xE5, 0x8A, 0x80, 0xC4, 0x47, 0x2E, 0x67, 0x6B, 0xBA, 0xFD, 0x40};
  const Bytes done = event(4, 1, {0, 0, 0, 0, 0});
  const Bytes connection = cat({response(6, 3, {0, 0, 0}), event(3, 0, cat({{0, 5}, pattern(14, 1)})),
                                response(4, 1, {0, 0, 0}), event(4, 2, cat({{0}, le16(16), le16(40), {16}, service})),
                                done, response(4, 3, {0, 0, 0}), event(4, 4, cat({{0}, le16(20), {16}, commandChar})),
                                event(4, 4, cat({{0}, le16(30), {16}, dataChar})), done, response(4, 5, {0, 0, 0}), done,
                                response(4, 5, {0, 0, 0}), done});
  for (int wait : {0, 2}) {
    bg.push_back(Seed()
                     .f({static_cast<uint8_t>(1 | wait)})
                     .f(connection)
                     .f(event(4, 5, cat({{0}, le16(30), {1, 7}, pattern(7, 2)})))
                     .f(cat({response(4, 5, {0, 0, 0}), done}))
                     .f(event(4, 5, cat({{0}, le16(30), {1, 20}, pattern(20, 3)})))
                     .b(tail(64)));
  }
  bg.push_back(Seed()
                   .f({2})
                   .f(cat({response(6, 4, {0, 0}), event(6, 0, cat({{0xC4, 4}, pattern(6, 4), {0, 0, 12, 11, 9},
                                                                   Bytes{'V', 'e', 'x', 'a', ' ', 'Q', 'Z', '1', '2'}})),
                           event(3, 0, {1, 5, 0, 0}), done, event(4, 5, cat({{0}, le16(30), {1, 3}, pattern(3, 5)}))}))
                   .b({0x06 | (10 << 3), 0x00, 0x01, 0x02, 0x04 | (8 << 3)})
                   .b(tail(32)));

  // The exported interface: calls against each simulated family.
  auto& ex = all["exports"];
  ex.push_back(Seed().f({0x02, 3}).f(le32(3)).f({16, 6, 10, 10, 9, 11, 1}).b(tail(16)));
  ex.push_back(Seed().f({0x06, 4, 2, 1, 0, 0x03, 0x00, 2, 1, 0x01, 0x00, 6, 8, 8, 6, 5, 9, 0}).b(tail(16)));
  ex.push_back(Seed().f({0x00, 2, 4, 1, 1, 0x60, 1, 12, 6, 12, 9, 2, 4, 1, 1, 1, 1, 12, 6, 4, 9}).b(tail(16)));
  ex.push_back(Seed().f({0x01, 3}).f(le32(0x3F)).f({8, 6, 12, 9, 10, 3}).f(le32(0x05)).f({8, 7, 6, 9, 1}).b(tail(16)));
  ex.push_back(Seed().f({0x02, 14, 6}).f(encodeMessage(8, {1})).f({5}).f(le32(1)).f({12, 0, 6, 5, 12, 1, 2, 3, 4, 1, 10}));
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
      const Bytes bytes = list[i].bytes();
      out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
      if (!out) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
      }
    }
  }
  return 0;
}
