// CRC-32: the checksum of every ZIP entry and of the traditional encryption keys.
//
// The standard CRC-32 of ZIP, gzip and PNG: reflected polynomial 0xEDB88320,
// initial value and final XOR 0xFFFFFFFF. Crc32() chains the way zlib's crc32()
// does: start with 0 and feed the running value back in,
//
//   uint32_t crc = Crc32(0, a, a_len);
//   crc = Crc32(crc, b, b_len);   // == Crc32(0, a followed by b)
//
// Crc32() uses the fastest kernel the processor offers (detected once, at
// start-up); all kernels give identical results. They are exposed one by one
// for tests and benchmarks only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qb::zip {

// Returns the CRC-32 of data[0, len) continued from `crc` (0 for a fresh start).
// data may be null when len is 0.
uint32_t Crc32(uint32_t crc, const void* data, size_t len);

enum class Crc32Kernel {
  Portable,   // table driven, slicing by 8; available everywhere
  Clmul,      // x86 PCLMULQDQ folding, 128-bit registers
  Avx2Clmul,  // x86 VPCLMULQDQ folding, 256-bit registers (AVX2)
  WideClmul,  // x86 VPCLMULQDQ folding, 512-bit registers (AVX-512)
};

// Whether this processor (and build) can run `kernel`.
bool Crc32KernelAvailable(Crc32Kernel kernel);

// Crc32() computed by `kernel` (by Portable if it is not available). Inputs
// too short for a folding kernel go to the next smaller one, as in Crc32().
uint32_t Crc32With(Crc32Kernel kernel, uint32_t crc, const void* data, size_t len);

}  // namespace qb::zip
