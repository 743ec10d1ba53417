#include "zip/zip_crypto.h"

#include <array>

namespace qb::zip {
namespace {

// One-byte CRC-32 steps without the pre- and post-inversion, as the keys need them.
constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}
constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

constexpr uint32_t CrcStep(uint32_t crc, uint8_t b) {
  return kCrcTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
}

}  // namespace

ZipCrypto::ZipCrypto(std::string_view password) : keys_{0x12345678u, 0x23456789u, 0x34567890u} {
  for (char c : password) Update(static_cast<uint8_t>(c));
}

uint8_t ZipCrypto::KeyByte() const {
  uint32_t temp = (keys_[2] | 2) & 0xFFFF;
  return static_cast<uint8_t>((temp * (temp ^ 1)) >> 8);
}

void ZipCrypto::Update(uint8_t plain) {
  keys_[0] = CrcStep(keys_[0], plain);
  keys_[1] = (keys_[1] + (keys_[0] & 0xFF)) * 134775813u + 1;
  keys_[2] = CrcStep(keys_[2], static_cast<uint8_t>(keys_[1] >> 24));
}

void ZipCrypto::Decrypt(uint8_t* data, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    data[i] ^= KeyByte();
    Update(data[i]);
  }
}

void ZipCrypto::Encrypt(uint8_t* data, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    uint8_t plain = data[i];
    data[i] ^= KeyByte();
    Update(plain);
  }
}

}  // namespace qb::zip
