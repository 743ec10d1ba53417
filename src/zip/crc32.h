// CRC-32: the checksum of every ZIP entry and of the traditional encryption keys.
//
// The standard CRC-32 of ZIP, gzip and PNG: reflected polynomial 0xEDB88320,
// initial value and final XOR 0xFFFFFFFF. Crc32() chains the way zlib's crc32()
// does: start with 0 and feed the running value back in,
//
//   uint32_t crc = Crc32(0, a, a_len);
//   crc = Crc32(crc, b, b_len);   // == Crc32(0, a followed by b)
//
// Crc32() picks the fastest implementation the processor offers, once per call
// (a cheap cached test); all of them give identical results. The individual
// implementations are exposed for tests and benchmarks only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qb::zip {

// Returns the CRC-32 of data[0, len) continued from `crc` (0 for a fresh start).
// data may be null when len is 0.
uint32_t Crc32(uint32_t crc, const void* data, size_t len);

// The table-driven implementation (slicing by 8), available everywhere.
uint32_t Crc32Portable(uint32_t crc, const void* data, size_t len);

// True when this processor has carry-less multiplication (x86 PCLMULQDQ with
// SSE4.1) and Crc32() therefore folds with it.
bool Crc32ClmulAvailable();

// The carry-less multiplication implementation. Call it only when
// Crc32ClmulAvailable() is true; elsewhere it falls back to Crc32Portable().
uint32_t Crc32Clmul(uint32_t crc, const void* data, size_t len);

}  // namespace qb::zip
