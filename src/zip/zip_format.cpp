#include "zip/zip_format.h"

#include "platform/codepage.h"
#include "zip/crc32.h"

namespace qb::zip::format {

bool DecodeLocalHeader(const uint8_t* p, LocalHeader& h) {
  if (Get32(p) != kLocalHeaderSignature) return false;
  h.version_needed = Get16(p + 4);
  h.flags = Get16(p + 6);
  h.method = Get16(p + 8);
  h.dos_date_time = Get32(p + 10);
  h.crc = Get32(p + 14);
  h.compressed_size = Get32(p + 18);
  h.uncompressed_size = Get32(p + 22);
  h.name_length = Get16(p + 26);
  h.extra_length = Get16(p + 28);
  return true;
}

void EncodeLocalHeader(const LocalHeader& h, uint8_t* p) {
  Put32(p, kLocalHeaderSignature);
  Put16(p + 4, h.version_needed);
  Put16(p + 6, h.flags);
  Put16(p + 8, h.method);
  Put32(p + 10, h.dos_date_time);
  Put32(p + 14, h.crc);
  Put32(p + 18, h.compressed_size);
  Put32(p + 22, h.uncompressed_size);
  Put16(p + 26, h.name_length);
  Put16(p + 28, h.extra_length);
}

bool DecodeCentralHeader(const uint8_t* p, CentralHeader& h) {
  if (Get32(p) != kCentralHeaderSignature) return false;
  h.version_made_by = Get16(p + 4);
  h.version_needed = Get16(p + 6);
  h.flags = Get16(p + 8);
  h.method = Get16(p + 10);
  h.dos_date_time = Get32(p + 12);
  h.crc = Get32(p + 16);
  h.compressed_size = Get32(p + 20);
  h.uncompressed_size = Get32(p + 24);
  h.name_length = Get16(p + 28);
  h.extra_length = Get16(p + 30);
  h.comment_length = Get16(p + 32);
  h.disk_number_start = Get16(p + 34);
  h.internal_attributes = Get16(p + 36);
  h.external_attributes = Get32(p + 38);
  h.local_header_offset = Get32(p + 42);
  return true;
}

void EncodeCentralHeader(const CentralHeader& h, uint8_t* p) {
  Put32(p, kCentralHeaderSignature);
  Put16(p + 4, h.version_made_by);
  Put16(p + 6, h.version_needed);
  Put16(p + 8, h.flags);
  Put16(p + 10, h.method);
  Put32(p + 12, h.dos_date_time);
  Put32(p + 16, h.crc);
  Put32(p + 20, h.compressed_size);
  Put32(p + 24, h.uncompressed_size);
  Put16(p + 28, h.name_length);
  Put16(p + 30, h.extra_length);
  Put16(p + 32, h.comment_length);
  Put16(p + 34, h.disk_number_start);
  Put16(p + 36, h.internal_attributes);
  Put32(p + 38, h.external_attributes);
  Put32(p + 42, h.local_header_offset);
}

bool DecodeEndRecord(const uint8_t* p, EndRecord& r) {
  if (Get32(p) != kEndRecordSignature) return false;
  r.this_disk = Get16(p + 4);
  r.directory_disk = Get16(p + 6);
  r.entries_this_disk = Get16(p + 8);
  r.total_entries = Get16(p + 10);
  r.directory_size = Get32(p + 12);
  r.directory_offset = Get32(p + 16);
  r.comment_length = Get16(p + 20);
  return true;
}

void EncodeEndRecord(const EndRecord& r, uint8_t* p) {
  Put32(p, kEndRecordSignature);
  Put16(p + 4, r.this_disk);
  Put16(p + 6, r.directory_disk);
  Put16(p + 8, r.entries_this_disk);
  Put16(p + 10, r.total_entries);
  Put32(p + 12, r.directory_size);
  Put32(p + 16, r.directory_offset);
  Put16(p + 20, r.comment_length);
}

bool DecodeZip64EndRecord(const uint8_t* p, Zip64EndRecord& r) {
  if (Get32(p) != kZip64EndRecordSignature) return false;
  r.record_size = Get64(p + 4);
  r.version_made_by = Get16(p + 12);
  r.version_needed = Get16(p + 14);
  r.this_disk = Get32(p + 16);
  r.directory_disk = Get32(p + 20);
  r.entries_this_disk = Get64(p + 24);
  r.total_entries = Get64(p + 32);
  r.directory_size = Get64(p + 40);
  r.directory_offset = Get64(p + 48);
  return true;
}

void EncodeZip64EndRecord(const Zip64EndRecord& r, uint8_t* p) {
  Put32(p, kZip64EndRecordSignature);
  Put64(p + 4, r.record_size);
  Put16(p + 12, r.version_made_by);
  Put16(p + 14, r.version_needed);
  Put32(p + 16, r.this_disk);
  Put32(p + 20, r.directory_disk);
  Put64(p + 24, r.entries_this_disk);
  Put64(p + 32, r.total_entries);
  Put64(p + 40, r.directory_size);
  Put64(p + 48, r.directory_offset);
}

bool DecodeZip64Locator(const uint8_t* p, Zip64Locator& l) {
  if (Get32(p) != kZip64LocatorSignature) return false;
  l.record_disk = Get32(p + 4);
  l.record_offset = Get64(p + 8);
  l.total_disks = Get32(p + 16);
  return true;
}

void EncodeZip64Locator(const Zip64Locator& l, uint8_t* p) {
  Put32(p, kZip64LocatorSignature);
  Put32(p + 4, l.record_disk);
  Put64(p + 8, l.record_offset);
  Put32(p + 16, l.total_disks);
}

std::optional<std::string_view> FindExtraField(std::string_view extra, uint16_t wanted) {
  std::optional<std::string_view> found;
  ForEachExtraField(extra, [&](uint16_t id, std::string_view data) {
    if (id != wanted) return true;
    found = data;
    return false;
  });
  return found;
}

bool ReadZip64Extra(std::string_view extra, bool uncompressed_masked, bool compressed_masked,
                    bool offset_masked, bool disk_masked, Zip64Values& values) {
  if (!uncompressed_masked && !compressed_masked && !offset_masked && !disk_masked) return true;
  auto field = FindExtraField(extra, kExtraZip64);
  if (!field) return false;
  const auto* p = reinterpret_cast<const uint8_t*>(field->data());
  size_t left = field->size();
  auto take64 = [&](uint64_t& value) {
    if (left < 8) return false;
    value = Get64(p);
    p += 8;
    left -= 8;
    return true;
  };
  if (uncompressed_masked && !take64(values.uncompressed_size)) return false;
  if (compressed_masked && !take64(values.compressed_size)) return false;
  if (offset_masked && !take64(values.local_header_offset)) return false;
  if (disk_masked) {
    if (left < 4) return false;
    values.disk_number_start = Get32(p);
  }
  return true;
}

std::optional<std::string> UnicodePathName(std::string_view extra, std::string_view stored_name) {
  auto field = FindExtraField(extra, kExtraUnicodePath);
  if (!field || field->size() < 5) return std::nullopt;
  const auto* p = reinterpret_cast<const uint8_t*>(field->data());
  if (p[0] != 1 || Get32(p + 1) != Crc32(0, stored_name.data(), stored_name.size())) return std::nullopt;
  std::string_view name = field->substr(5);
  if (!codepage::IsValidUtf8(name)) return std::nullopt;
  return std::string(name);
}

}  // namespace qb::zip::format
