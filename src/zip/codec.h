// Shared result type of the whole-buffer codecs (inflate, the legacy decoders).
//
// The codecs never throw and never allocate their output: the caller hands them
// the whole compressed input and an output buffer sized to the entry's declared
// uncompressed size. The archive reader turns the status into its exceptions.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qb::zip {

enum class CodecStatus {
  Ok,          // the stream ended properly (or, for codecs without an end marker, out_cap bytes were made)
  InputEnded,  // the compressed data ran out before the stream ended
  OutputFull,  // the stream would write more than out_cap bytes; out holds the first out_cap
  BadData,     // an invalid code, length, distance or table
};

struct CodecResult {
  CodecStatus status = CodecStatus::Ok;
  size_t consumed = 0;  // input bytes used
  size_t produced = 0;  // output bytes written
};

}  // namespace qb::zip
