// Raw inflate against zlib. Input: two bytes giving the output room in units of
// 64 bytes, then a raw Deflate stream. Both decoders must agree on whether the
// stream ends properly, and then on every byte and on the input used; when both
// fill the room, on the bytes that fill it. The streaming decoder, fed in pieces
// of uneven sizes through its smallest (sliding) window, must come to the same
// end with the same bytes, and on damage hand over only bytes that the
// whole-buffer decoder also made.
#include "zip/inflate.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz_support.h"

using namespace qb::zip;

namespace {

// Hands the stream out in pieces of 1 to 8191 bytes, their sizes following from
// the room.
class PieceSource : public InflateSource {
 public:
  PieceSource(std::span<const uint8_t> stream, size_t room) : stream_(stream), step_(room) {}
  size_t Read(uint8_t* buffer, size_t capacity) override {
    ++calls_;
    const size_t piece = 1 + (step_ * calls_ * 2654435761u) % 8191;
    const size_t n = std::min({piece, capacity, stream_.size() - at_});
    if (n) std::memcpy(buffer, stream_.data() + at_, n);
    at_ += n;
    return n;
  }

 private:
  std::span<const uint8_t> stream_;
  size_t step_, at_ = 0, calls_ = 0;
};

// Keeps what it is given up to the room and refuses a piece that goes past it.
class RoomSink : public InflateSink {
 public:
  explicit RoomSink(size_t room) : room_(room) {}
  bool Write(const uint8_t* data, size_t size) override {
    const size_t fits = std::min(size, room_ - out.size());
    out.insert(out.end(), data, data + fits);
    return fits == size;
  }
  std::vector<uint8_t> out;

 private:
  size_t room_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qbfuzz::Input input(data, size);
  const size_t room = size_t{input.Number(2)} * 64;
  const std::span<const uint8_t> stream = input.Rest();

  std::vector<uint8_t> ours(room + 1), theirs(room + 1);
  const CodecResult result = Inflate(stream.data(), stream.size(), ours.data(), room);
  QB_FUZZ_CHECK(result.produced <= room);
  QB_FUZZ_CHECK(result.consumed <= stream.size());
  QB_FUZZ_CHECK(result.status != CodecStatus::OutputFull || result.produced == room);

  const auto [status, zlib_produced, zlib_consumed] =
      qbfuzz::ZlibInflateRaw(stream.data(), stream.size(), theirs.data(), room);

  const bool ours_ok = result.status == CodecStatus::Ok, zlib_ok = status == Z_STREAM_END;
  if (ours_ok != zlib_ok) {
    std::fprintf(stderr, "ours: status %d produced %zu consumed %zu; zlib: %d produced %zu consumed %zu\n",
                 static_cast<int>(result.status), result.produced, result.consumed, status, zlib_produced,
                 zlib_consumed);
  }
  QB_FUZZ_CHECK(ours_ok == zlib_ok);
  if (ours_ok) {
    QB_FUZZ_CHECK(result.produced == zlib_produced);
    QB_FUZZ_CHECK(result.consumed == zlib_consumed);
  }
  if (ours_ok || (result.status == CodecStatus::OutputFull && zlib_produced == room))
    QB_FUZZ_CHECK(std::memcmp(ours.data(), theirs.data(), result.produced) == 0);

  PieceSource source(stream, room);
  RoomSink sink(room);
  const CodecResult streamed = InflateStream(source, sink, 0, 0);
  QB_FUZZ_CHECK(sink.out.size() <= streamed.produced);
  if (result.status != CodecStatus::OutputFull) {
    // The whole-buffer decoder stopped within the room: so does the streaming one.
    QB_FUZZ_CHECK(streamed.status == result.status);
    QB_FUZZ_CHECK(streamed.produced <= result.produced);
    if (ours_ok) {
      QB_FUZZ_CHECK(streamed.produced == result.produced && sink.out.size() == result.produced);
      QB_FUZZ_CHECK(streamed.consumed == result.consumed);
    }
  } else {
    // It decoded more than the room holds: the streaming one goes at least that
    // far unless it meets damage in what it decodes ahead.
    QB_FUZZ_CHECK(streamed.status == CodecStatus::OutputFull || streamed.status == CodecStatus::BadData ||
                  streamed.status == CodecStatus::InputEnded);
  }
  const size_t common = std::min(sink.out.size(), result.produced);
  QB_FUZZ_CHECK(common == 0 || std::memcmp(sink.out.data(), ours.data(), common) == 0);
  return 0;
}
