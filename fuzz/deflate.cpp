// The compressor against zlib's decoder and against itself. Input: a level byte,
// a shape byte, then the data. The shape repeats the data (1 to 32 copies, or
// 256 times as many, up to 128 KiB in all), optionally with a byte of each copy
// changed, so that short inputs still reach long matches, long runs and the
// slides of the tables; its top bit also compresses on a thread of its own.
// Every stream must inflate to the input, and every way of compressing the same
// input must give the same bytes: with and without the shortcuts, again on the
// same thread (whatever the call before it left in the thread's tables), and on
// a fresh thread.
#include "zip/deflate.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

#include "fuzz_support.h"

using namespace qb::zip;

namespace {

constexpr size_t kMaxInput = 128 << 10;

bool Same(const DeflateOutput& a, const DeflateOutput& b) {
  return a.data == b.data && a.stored_whole == b.stored_whole && a.is_text == b.is_text;
}

void CheckInflatesTo(const DeflateOutput& out, const std::vector<uint8_t>& in) {
  if (out.stored_whole) {
    QB_FUZZ_CHECK(out.data.empty());
    return;
  }
  // Every block costs at most a few bytes more than sending its bytes stored,
  // and every block but the last holds at least 4096 symbols.
  QB_FUZZ_CHECK(out.data.size() <= in.size() + in.size() / 256 + 16);
  std::vector<uint8_t> back(in.size() + 1);
  const auto [status, produced, consumed] =
      qbfuzz::ZlibInflateRaw(out.data.data(), out.data.size(), back.data(), back.size());
  const size_t left = out.data.size() - consumed;
  if (status != Z_STREAM_END || produced != in.size() || left != 0)
    std::fprintf(stderr, "zlib: status %d, %zu of %zu bytes, %zu input bytes left\n", status, produced,
                 in.size(), left);
  QB_FUZZ_CHECK(status == Z_STREAM_END);
  QB_FUZZ_CHECK(produced == in.size());
  QB_FUZZ_CHECK(left == 0);  // the stream ends on its last byte
  QB_FUZZ_CHECK(std::equal(in.begin(), in.end(), back.begin()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qbfuzz::Input input(data, size);
  const int level = 1 + input.Byte() % 9;
  const uint8_t shape = input.Byte();
  const std::span<const uint8_t> rest = input.Rest();

  std::vector<uint8_t> in(rest.begin(), rest.end());
  if (!rest.empty()) {
    size_t copies = 1 + (shape & 0x1F);
    if (shape & 0x20) copies *= 256;
    copies = std::min(copies, std::max<size_t>(1, kMaxInput / rest.size()));
    in.reserve(rest.size() * copies);
    for (size_t k = 1; k < copies; ++k) {
      const size_t at = in.size();
      in.insert(in.end(), rest.begin(), rest.end());
      if (shape & 0x40) in[at + (k * 2654435761u) % rest.size()] += static_cast<uint8_t>(k);
    }
  }

  const DeflateOutput first = Deflate(in.data(), in.size(), level);
  CheckInflatesTo(first, in);
  QB_FUZZ_CHECK(Same(DeflatePlain(in.data(), in.size(), level), first));
  QB_FUZZ_CHECK(Same(Deflate(in.data(), in.size(), level), first));
  if (shape & 0x80) {
    DeflateOutput fresh;
    std::thread([&] { fresh = Deflate(in.data(), in.size(), level); }).join();
    QB_FUZZ_CHECK(Same(fresh, first));
  }
  return 0;
}
