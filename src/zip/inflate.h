// Inflate: the archive engine's Deflate decoder (RFC 1951, raw streams).
//
// Whole-buffer decoding: the caller hands over the entire compressed entry and
// an output buffer sized to the entry's declared uncompressed size, and gets the
// bytes and a status back in one call; nothing is allocated. InflateStream() runs
// the same decoder over input read in pieces and an output window that grows or
// slides, for entries too large to hold. Both are safe to call from several
// threads at once.
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

// Inflate() as built for every processor. Inflate() itself runs a second build
// of the same decoder on processors with BMI2; both give identical results.
// For tests.
CodecResult InflatePortable(const uint8_t* in, size_t in_len, uint8_t* out, size_t out_cap);

// Streaming decoding, for data too large to hold whole, and so that memory grows
// with the data really produced rather than with a size the archive claims.
class InflateSource {
 public:
  virtual ~InflateSource() = default;
  // Up to capacity bytes of compressed data; 0 at the end.
  virtual size_t Read(uint8_t* buffer, size_t capacity) = 0;
};
class InflateSink {
 public:
  virtual ~InflateSink() = default;
  // Takes the next decoded bytes; false stops the decoding (OutputFull).
  virtual bool Write(const uint8_t* data, size_t size) = 0;
};

// Decodes one raw Deflate stream read from source, handing the output to sink in
// order. The output window starts at initial_window bytes and doubles up to
// max_window (at least 32 KiB and a little more); once full, its older part goes
// to the sink and the last 32 KiB stay as history. So a window as large as the
// whole output hands everything over in one piece at the end, and a small one
// keeps memory bounded whatever the stream's size. Input is read 64 KiB at a time.
// Results as for Inflate(), with produced = the bytes handed to the sink (an
// OutputFull result includes the piece the sink refused) and consumed counted
// over the whole input.
CodecResult InflateStream(InflateSource& source, InflateSink& sink, size_t initial_window, size_t max_window);

}  // namespace qb::zip
