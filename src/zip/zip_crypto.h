// The traditional PKWARE encryption: three 32-bit keys stirred by every plain byte.
//
// An encrypted entry's data starts with a 12-byte header of random bytes whose last
// byte (or last two) repeat the top of the CRC, so a wrong password is noticed
// before any data is decoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qb::zip {

class ZipCrypto {
 public:
  explicit ZipCrypto(std::string_view password);
  // Decrypts in place.
  void Decrypt(uint8_t* data, size_t count);
  // Encrypts in place.
  void Encrypt(uint8_t* data, size_t count);

 private:
  uint8_t KeyByte() const;
  void Update(uint8_t plain);
  uint32_t keys_[3];
};

}  // namespace qb::zip
