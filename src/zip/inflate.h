// Inflate: the archive engine's Deflate decoder (RFC 1951, raw streams).
//
// Whole-buffer decoding: the caller hands over the entire compressed entry and
// an output buffer sized to the entry's declared uncompressed size, and gets the
// bytes and a status back in one call. There is no streaming state and nothing
// is allocated; the decoder is safe to call from several threads at once.
//
// Inputs are untrusted. On any byte sequence Inflate reads only in[0, in_len),
// writes only out[0, out_cap), and returns in time proportional to
// in_len + out_cap.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zip/codec.h"

namespace qb::zip {

// Decodes one raw Deflate stream (no zlib or gzip wrapper) from in[0, in_len)
// into out[0, out_cap). in and out may be null when their length is 0.
//
//   Ok          the final block ended. consumed = input bytes used, the last
//               partial byte included; bytes after the stream are left alone.
//   InputEnded  the input ran out before the final block ended.
//   OutputFull  the stream holds more than out_cap bytes; out holds the first
//               out_cap of them and produced == out_cap.
//   BadData     invalid block type, stored length check, code lengths or
//               Huffman code (over-subscribed, or incomplete beyond the lone
//               one-bit code Deflate tolerates), invalid symbol, or a distance
//               reaching before the start of the output.
//
// produced always counts the valid bytes at the start of out; whatever lies
// beyond it in out is unspecified.
CodecResult Inflate(const uint8_t* in, size_t in_len, uint8_t* out, size_t out_cap);

}  // namespace qb::zip
