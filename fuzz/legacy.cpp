// The legacy decoders (Shrink, Reduce with factors 1-4, Implode). Input: a byte
// choosing the method and Implode's flags, three bytes of output size (at most
// 256 KiB), then the compressed data. There is no reference decoder to compare
// with, so each result is checked against the contract, and against a second run
// with half the room: the first bytes must be the same, and so must the outcome
// when the first run stopped before that point.
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "zip/legacy_decoders.h"

using namespace qb::zip;

namespace {

CodecResult Decode(int method, uint16_t flags, std::span<const uint8_t> in, uint8_t* out, size_t out_size) {
  if (method == 0) return Unshrink(in.data(), in.size(), out, out_size);
  if (method <= 4) return Unreduce(method, in.data(), in.size(), out, out_size);
  return Explode(flags, in.data(), in.size(), out, out_size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qbfuzz::Input input(data, size);
  const uint8_t choice = input.Byte();
  const int method = (choice & 0x0F) % 6;
  const uint16_t flags = static_cast<uint16_t>((choice >> 4) & 0x06);
  const size_t out_size = input.Number(3) & 0x3FFFF;
  const std::span<const uint8_t> in = input.Rest();

  std::vector<uint8_t> first(out_size + 1);
  const CodecResult a = Decode(method, flags, in, first.data(), out_size);
  QB_FUZZ_CHECK(a.produced <= out_size);
  QB_FUZZ_CHECK(a.consumed <= in.size());
  QB_FUZZ_CHECK(a.status != CodecStatus::Ok || a.produced == out_size);
  QB_FUZZ_CHECK(a.status != CodecStatus::OutputFull || a.produced == out_size);

  const size_t half = out_size / 2;
  std::vector<uint8_t> second(half + 1);
  const CodecResult b = Decode(method, flags, in, second.data(), half);
  if (a.produced > half) {
    QB_FUZZ_CHECK(b.status == CodecStatus::Ok || b.status == CodecStatus::OutputFull);
    QB_FUZZ_CHECK(b.produced == half);
  } else if (a.produced < half) {
    QB_FUZZ_CHECK(b.status == a.status);
    QB_FUZZ_CHECK(b.produced == a.produced);
  } else {
    QB_FUZZ_CHECK(b.produced == half);  // stopped right there: either way
  }
  QB_FUZZ_CHECK(std::memcmp(first.data(), second.data(), b.produced) == 0);
  return 0;
}
