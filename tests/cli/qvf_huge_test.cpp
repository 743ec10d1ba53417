// qvf on members far larger than memory should hold: an archive with a 1.5 GiB
// member and a 5 GiB one (ZIP64, each a few MB on disk). ls shows the real sizes;
// test checks the first and refuses the second with a reason, and cat streams the
// first, each with a peak resident size under 64 MB.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "zip/zip_format.h"

namespace {

using namespace qb::zip::format;
using qbtest::TempDir;

// Under the address sanitizer its own memory dwarfs what is measured.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPeakMemoryMeasured = false;
#else
constexpr bool kPeakMemoryMeasured = true;
#endif

constexpr uint64_t kMiB = 1 << 20;
constexpr uint64_t kChunk = 16 * kMiB;

// A member of `size` zero bytes (a multiple of 16 MiB), deflated: one compressed
// 16 MiB chunk that ends on a byte boundary with a fresh dictionary, repeated, and
// an empty final block.
struct ZeroMember {
  std::string name;
  uint64_t size = 0;
  std::vector<uint8_t> chunk;
  uint32_t crc = 0;
  uint64_t CompressedSize() const { return chunk.size() * (size / kChunk) + 2; }
};

ZeroMember MakeZeroMember(const std::string& name, uint64_t size) {
  ZeroMember m{name, size, {}, 0};
  std::vector<uint8_t> zeros(kChunk, 0);
  z_stream zs{};
  deflateInit2(&zs, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
  m.chunk.resize(deflateBound(&zs, kChunk) + 64);
  zs.next_in = zeros.data();
  zs.avail_in = static_cast<uInt>(kChunk);
  zs.next_out = m.chunk.data();
  zs.avail_out = static_cast<uInt>(m.chunk.size());
  deflate(&zs, Z_FULL_FLUSH);
  m.chunk.resize(zs.total_out);
  deflateEnd(&zs);
  const uLong chunk_crc = crc32(0, zeros.data(), static_cast<uInt>(kChunk));
  uLong crc = 0;
  for (uint64_t done = 0; done < size; done += kChunk) crc = crc32_combine64(crc, chunk_crc, kChunk);
  m.crc = static_cast<uint32_t>(crc);
  return m;
}

// Writes the archive as a ZIP64 writer does: masked 32-bit fields with ZIP64 extra
// fields, then the ZIP64 end record, its locator and the end record.
void WriteHugeArchive(const std::string& path, const std::vector<ZeroMember>& members) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  auto put = [&](const void* data, size_t size) { ASSERT_EQ(std::fwrite(data, 1, size, f), size); };
  std::vector<uint8_t> directory;
  uint64_t offset = 0;
  // A small stored member first.
  {
    LocalHeader h;
    h.version_needed = 10;
    h.crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>("small\n"), 6));
    h.compressed_size = h.uncompressed_size = 6;
    h.name_length = 5;
    uint8_t bytes[kLocalHeaderSize];
    EncodeLocalHeader(h, bytes);
    put(bytes, sizeof bytes);
    put("Small", 5);
    put("small\n", 6);
    CentralHeader c;
    c.version_made_by = kMadeByUnix20;
    c.version_needed = 10;
    c.crc = h.crc;
    c.compressed_size = c.uncompressed_size = 6;
    c.name_length = 5;
    c.external_attributes = kUnixFileAttributes;
    directory.resize(kCentralHeaderSize);
    EncodeCentralHeader(c, directory.data());
    directory.insert(directory.end(), {'S', 'm', 'a', 'l', 'l'});
    offset = kLocalHeaderSize + 5 + 6;
  }
  for (const ZeroMember& m : members) {
    uint8_t extra[4 + 16];
    Put16(extra, kExtraZip64);
    Put16(extra + 2, 16);
    Put64(extra + 4, m.size);
    Put64(extra + 12, m.CompressedSize());
    LocalHeader h;
    h.version_needed = 45;
    h.method = kMethodDeflated;
    h.crc = m.crc;
    h.compressed_size = h.uncompressed_size = kMasked32;
    h.name_length = static_cast<uint16_t>(m.name.size());
    h.extra_length = sizeof extra;
    uint8_t bytes[kLocalHeaderSize];
    EncodeLocalHeader(h, bytes);
    put(bytes, sizeof bytes);
    put(m.name.data(), m.name.size());
    put(extra, sizeof extra);
    for (uint64_t done = 0; done < m.size; done += kChunk) put(m.chunk.data(), m.chunk.size());
    put("\x03\x00", 2);
    CentralHeader c;
    c.version_made_by = (kHostUnix << 8) | 45;
    c.version_needed = 45;
    c.method = kMethodDeflated;
    c.crc = m.crc;
    c.compressed_size = c.uncompressed_size = kMasked32;
    c.name_length = h.name_length;
    c.extra_length = sizeof extra;
    c.external_attributes = kUnixFileAttributes;
    c.local_header_offset = static_cast<uint32_t>(offset);
    const size_t at = directory.size();
    directory.resize(at + kCentralHeaderSize);
    EncodeCentralHeader(c, directory.data() + at);
    directory.insert(directory.end(), m.name.begin(), m.name.end());
    directory.insert(directory.end(), extra, extra + sizeof extra);
    offset += kLocalHeaderSize + m.name.size() + sizeof extra + m.CompressedSize();
  }
  put(directory.data(), directory.size());
  Zip64EndRecord record;
  record.version_made_by = record.version_needed = 45;
  record.entries_this_disk = record.total_entries = members.size() + 1;
  record.directory_size = directory.size();
  record.directory_offset = offset;
  Zip64Locator locator;
  locator.record_offset = offset + directory.size();
  EndRecord end;
  end.entries_this_disk = end.total_entries = static_cast<uint16_t>(members.size() + 1);
  end.directory_size = static_cast<uint32_t>(directory.size());
  end.directory_offset = kMasked32;
  uint8_t tail[kZip64EndRecordSize + kZip64LocatorSize + kEndRecordSize];
  EncodeZip64EndRecord(record, tail);
  EncodeZip64Locator(locator, tail + kZip64EndRecordSize);
  EncodeEndRecord(end, tail + kZip64EndRecordSize + kZip64LocatorSize);
  put(tail, sizeof tail);
  std::fclose(f);
}

struct Measured {
  int exit_code = -1;
  std::string output;  // standard output (its first bytes only, when it is long)
  uint64_t output_size = 0;
  bool output_all_zeros = true;
  long peak_kib = 0;  // the child's peak resident size
  std::string errors;
};

// Runs qvf with args, reading its standard output as it comes, and measures the
// child's peak resident size.
Measured RunQvfMeasured(const std::vector<std::string>& args, const TempDir& dir) {
  Measured m;
  int out[2];
  EXPECT_EQ(pipe(out), 0);
  const std::string errors = dir / "errors.txt";
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    std::FILE* err = std::fopen(errors.c_str(), "w");
    dup2(fileno(err), 2);
    close(out[0]);
    close(out[1]);
    std::vector<char*> argv;
    const std::string qvf = qbtest::QvfPath();
    argv.push_back(const_cast<char*>(qvf.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(qvf.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  std::vector<char> buffer(1 << 20);
  for (ssize_t n; (n = read(out[0], buffer.data(), buffer.size())) > 0;) {
    if (m.output.size() < 4096) m.output.append(buffer.data(), static_cast<size_t>(n));
    for (ssize_t i = 0; i < n && m.output_all_zeros; ++i)
      m.output_all_zeros = buffer[static_cast<size_t>(i)] == 0;
    m.output_size += static_cast<uint64_t>(n);
  }
  close(out[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  m.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  m.peak_kib = usage.ru_maxrss;
  m.errors = qbtest::ReadFileText(errors);
  return m;
}

TEST(QvfHuge, MembersBeyondMemoryAreListedCheckedAndStreamedInBoundedMemory) {
  TempDir dir;
  const std::string archive = dir / "huge.zip";
  const uint64_t big = 1536 * kMiB, huge = 5120 * kMiB;
  WriteHugeArchive(archive, {MakeZeroMember("Zeros 1.5G", big), MakeZeroMember("Zeros 5G", huge)});

  Measured ls = RunQvfMeasured({"ls", archive}, dir);
  EXPECT_EQ(ls.exit_code, 0) << ls.errors;
  EXPECT_NE(ls.output.find("Zeros 5G\t-\t-\t-\t"), std::string::npos) << ls.output;
  EXPECT_NE(ls.output.find("\t5368709120\n"), std::string::npos) << ls.output;
  EXPECT_NE(ls.output.find("\t1610612736\n"), std::string::npos) << ls.output;

  // The 5 GiB member is beyond the engine's limit: refused before anything is
  // allocated, and the other members are still checked.
  Measured test = RunQvfMeasured({"test", archive}, dir);
  EXPECT_EQ(test.exit_code, 1);
  EXPECT_EQ(
      test.output,
      "Small\tOK\nZeros 1.5G\tOK\nZeros 5G\tFAILED\tEntry too large: 5368709120 bytes (2 GiB at most)\n");
  if (kPeakMemoryMeasured) {
    EXPECT_LT(test.peak_kib, 64 * 1024);
  }

  Measured cat = RunQvfMeasured({"cat", archive, "Zeros 1.5G"}, dir);
  EXPECT_EQ(cat.exit_code, 0) << cat.errors;
  EXPECT_EQ(cat.output_size, big);
  EXPECT_TRUE(cat.output_all_zeros);
  if (kPeakMemoryMeasured) {
    EXPECT_LT(cat.peak_kib, 64 * 1024);
  }
}

}  // namespace
