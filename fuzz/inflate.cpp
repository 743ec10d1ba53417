// Raw inflate against zlib. Input: two bytes giving the output room in units of
// 64 bytes, then a raw Deflate stream. Both decoders must agree on whether the
// stream ends properly, and then on every byte and on the input used; when both
// fill the room, on the bytes that fill it.
#include "zip/inflate.h"

#include <zlib.h>

#include <cstring>
#include <vector>

#include "fuzz_support.h"

using namespace qb::zip;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qbfuzz::Input input(data, size);
  const size_t room = size_t{input.Number(2)} * 64;
  const std::span<const uint8_t> stream = input.Rest();

  std::vector<uint8_t> ours(room + 1), theirs(room + 1);
  const CodecResult result = Inflate(stream.data(), stream.size(), ours.data(), room);
  QB_FUZZ_CHECK(result.produced <= room);
  QB_FUZZ_CHECK(result.consumed <= stream.size());
  QB_FUZZ_CHECK(result.status != CodecStatus::OutputFull || result.produced == room);

  z_stream z{};
  QB_FUZZ_CHECK(inflateInit2(&z, -15) == Z_OK);
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  z.next_out = theirs.data();
  z.avail_out = static_cast<uInt>(room);
  const int status = inflate(&z, Z_FINISH);
  const size_t zlib_produced = room - z.avail_out, zlib_consumed = stream.size() - z.avail_in;
  inflateEnd(&z);

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
  return 0;
}
