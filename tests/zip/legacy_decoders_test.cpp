// Tests of the Shrink, Reduce and Implode decoders: every legacy entry of the
// third-party corpus, damaged copies of them, and hand-made streams for the
// corners the corpus may not reach.
#include "zip/legacy_decoders.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "support/raw_zip.h"
#include "support/test_support.h"

namespace {

using namespace qb::zip;
using qbtest::RawZipEntry;
using Bytes = std::vector<uint8_t>;

constexpr size_t kGuard = 16;  // canary bytes after out_size
constexpr uint8_t kCanary = 0xA5;

bool IsLegacy(const RawZipEntry& e) {
  return e.method >= 1 && e.method <= 6 && (e.flags & 1) == 0;
}

// Decodes with canary bytes after the output and checks the decoder's promises
// that hold for any input.
CodecResult Decode(uint16_t method, uint16_t flags, const Bytes& in, size_t out_size, Bytes* out) {
  out->assign(out_size + kGuard, kCanary);
  CodecResult r;
  if (method == 1)
    r = Unshrink(in.data(), in.size(), out->data(), out_size);
  else if (method <= 5)
    r = Unreduce(method - 1, in.data(), in.size(), out->data(), out_size);
  else
    r = Explode(flags, in.data(), in.size(), out->data(), out_size);
  EXPECT_TRUE(std::all_of(out->begin() + static_cast<ptrdiff_t>(out_size), out->end(), [](uint8_t b) {
    return b == kCanary;
  })) << "wrote past out_size";
  EXPECT_LE(r.produced, out_size);
  EXPECT_LE(r.consumed, in.size());
  EXPECT_TRUE(r.status != CodecStatus::Ok || r.produced == out_size);
  out->resize(r.produced);
  return r;
}

uint32_t Crc(const Bytes& b) {
  return static_cast<uint32_t>(crc32(0, b.data(), static_cast<uInt>(b.size())));
}

struct CorpusEntry {
  std::string archive;
  RawZipEntry entry;
};
const std::vector<CorpusEntry>& LegacyCorpus() {
  static const std::vector<CorpusEntry> all = [] {
    std::vector<CorpusEntry> found;
    std::vector<qbtest::fs::path> files;
    for (const auto& f : qbtest::fs::directory_iterator(qbtest::CorpusDir())) files.push_back(f.path());
    std::sort(files.begin(), files.end());
    for (const auto& path : files) {
      std::vector<RawZipEntry> entries;
      std::string error;
      if (!qbtest::ParseRawZip(qbtest::ReadFileBytes(path), &entries, &error))
        continue;  // not every file is a ZIP
      for (auto& e : entries)
        if (IsLegacy(e)) found.push_back({path.filename().string(), std::move(e)});
    }
    return found;
  }();
  return all;
}

// ---- Corpus ----------------------------------------------------------------

TEST(LegacyCorpus, EveryEntryDecodesToItsCrcAndUsesAllItsInputButNoMore) {
  std::map<int, int> per_kind;  // method, or 60 + (Implode flags & 6)
  for (const auto& [archive, e] : LegacyCorpus()) {
    SCOPED_TRACE(archive + " " + e.name);
    Bytes longer = e.data, out;
    longer.insert(longer.end(), {0xFF, 0x00, 0x5A});  // whatever follows the stream is not read
    const CodecResult r = Decode(e.method, e.flags, longer, e.uncompressed_size, &out);
    ASSERT_EQ(r.status, CodecStatus::Ok);
    EXPECT_EQ(Crc(out), e.crc32);
    EXPECT_EQ(r.consumed, e.data.size());
    ++per_kind[e.method == 6 ? 60 + (e.flags & 6) : e.method];
  }
  EXPECT_GE(per_kind[1], 9);  // includes a 45 KB program whose stream has partial clears
  for (int method = 2; method <= 5; ++method)
    EXPECT_GE(per_kind[method], 2) << "Reduce factor " << method - 1;
  EXPECT_GE(per_kind[60], 8);  // 4 KiB window, two trees
  EXPECT_GE(per_kind[66], 5);  // 8 KiB window, literal tree
}

// The origin projects state the SHA-256 of these files' contents; one file is
// often stored with several methods.
TEST(LegacyCorpus, KnownContentsMatchTheirPublishedDigests) {
  const std::map<std::string, std::string> digest = {
      {"FIRST.TXT", "7fa9e80fcfc8ef32d3e08d88b85730803da855affea2d1ec51f08a4b01f171e7"},
      {"TEST.EXE", "8557928804f57ecc340b3bb38b095a3607474ec8deb0076f316fcfe02b562106"},
      {"TEST.JPG", "b251c7501fb0f55dd4a92feabe0a6f5733bc40a02679498155fae9b30138fc53"},
      {"TECT.TXT", "4d581d93d369f6e1c9b295ff38d82dabd577f927dfaf0c35818c015c85e322d9"},
      {"\xE2\xA5\xE1\xE2.TXT",
       "4d581d93d369f6e1c9b295ff38d82dabd577f927dfaf0c35818c015c85e322d9"},  // CP866 name
      {"TEST1.XML", "1f155fbeed0dc3b21ee30e7a648c98ba1123083b814a58ad852d37447a608f0e"},
      {"TEST2.XML", "2402e6ef55b5f8886f6632078f50a23cbc73ece37aac7951e77c2a4098acdf5f"},
      {"LOREM.TXT", "a00c4f3f36515c96b2faef71c054e7f3e86a4f0f4ed4824cb7c5293bb455d28a"},
  };
  qbtest::TempDir dir;
  std::string command = "sha256sum";
  std::vector<std::string> expected;
  for (const auto& [archive, e] : LegacyCorpus()) {
    std::string key = e.name.substr(e.name.find_last_of('/') + 1);
    for (char& c : key) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    if (!digest.count(key)) continue;
    Bytes out;
    Decode(e.method, e.flags, e.data, e.uncompressed_size, &out);
    const std::string file = dir / std::to_string(expected.size());
    qbtest::WriteFileBytes(file, out);
    command += " " + qbtest::ShellQuote(file);
    expected.push_back(digest.at(key) + "  " + file + "\n");
  }
  ASSERT_EQ(expected.size(), 22u);
  const qbtest::CommandResult sums = qbtest::RunCommand(command);
  ASSERT_EQ(sums.exit_code, 0) << sums.errors;
  std::string all;
  for (const auto& line : expected) all += line;
  EXPECT_EQ(sums.output, all);
}

// ---- Damaged streams -------------------------------------------------------

// The smallest entry of each kind, plus the largest Shrink stream (with partial clears).
std::vector<const RawZipEntry*> Representatives() {
  std::map<int, const RawZipEntry*> smallest;
  const RawZipEntry* largest_shrink = nullptr;
  for (const auto& c : LegacyCorpus()) {
    const RawZipEntry& e = c.entry;
    const int kind = e.method == 6 ? 60 + (e.flags & 6) : e.method;
    if (!smallest[kind] || e.data.size() < smallest[kind]->data.size()) smallest[kind] = &e;
    if (e.method == 1 && (!largest_shrink || e.data.size() > largest_shrink->data.size()))
      largest_shrink = &e;
  }
  std::vector<const RawZipEntry*> chosen{largest_shrink};
  for (const auto& [kind, e] : smallest) chosen.push_back(e);
  return chosen;
}

TEST(LegacyDamage, TruncatedStreamsEndWithInputEndedAndACorrectPrefix) {
  for (const RawZipEntry* e : Representatives()) {
    SCOPED_TRACE(e->name);
    Bytes whole;
    ASSERT_EQ(Decode(e->method, e->flags, e->data, e->uncompressed_size, &whole).status, CodecStatus::Ok);
    const size_t len = e->data.size();
    for (size_t cut = 0; cut < len; cut += 1 + len / 40) {
      for (size_t keep : {cut, len - 1 - cut % 3}) {
        Bytes out;
        const Bytes part(e->data.begin(), e->data.begin() + static_cast<ptrdiff_t>(keep));
        const CodecResult r = Decode(e->method, e->flags, part, e->uncompressed_size, &out);
        ASSERT_EQ(r.status, CodecStatus::InputEnded) << "cut at " << keep;
        ASSERT_TRUE(std::equal(out.begin(), out.end(), whole.begin())) << "cut at " << keep;
      }
    }
  }
}

TEST(LegacyDamage, FlippedBitsAreCaughtOrChangeTheCrc) {
  int flips = 0, caught = 0;
  for (const RawZipEntry* e : Representatives()) {
    const Bytes random = qbtest::RandomBytes(200, e->data.size());
    for (size_t i = 0; i + 1 < random.size(); i += 2) {
      Bytes damaged = e->data;
      const size_t bit = (random[i] << 8 | random[i + 1]) % (damaged.size() * 8);
      damaged[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
      Bytes out;
      const CodecResult r = Decode(e->method, e->flags, damaged, e->uncompressed_size, &out);
      ++flips;
      if (r.status != CodecStatus::Ok || Crc(out) != e->crc32) ++caught;
    }
  }
  // Some bits really do not matter (an unused follower, a final byte's padding).
  EXPECT_GE(caught, flips * 9 / 10);
}

TEST(LegacyDamage, RandomBodiesAfterRealHeadersNeverMisbehave) {
  // Random follower sets and trees rarely pass their checks, so keep each
  // stream's real header (what a decode to 0 bytes reads) and randomise the rest.
  int bodies_decoded = 0;
  for (const RawZipEntry* e : Representatives()) {
    Bytes out;
    const size_t header = Decode(e->method, e->flags, e->data, 0, &out).consumed;
    for (uint64_t seed = 1; seed <= 25; ++seed) {
      Bytes input(e->data.begin(), e->data.begin() + static_cast<ptrdiff_t>(header));
      const Bytes noise = qbtest::RandomBytes(seed * 40, seed);
      input.insert(input.end(), noise.begin(), noise.end());
      if (Decode(e->method, e->flags, input, 1 << 16, &out).produced > 0) ++bodies_decoded;
    }
  }
  EXPECT_GE(bodies_decoded, 150);
}

// ---- Hand-made streams -----------------------------------------------------

// Writes a stream least significant bit first; Code() writes a Shannon-Fano
// code most significant bit first, as Implode sends them.
class BitWriter {
 public:
  BitWriter& Put(uint32_t value, unsigned count) {
    for (unsigned i = 0; i < count; ++i) Bit((value >> i) & 1);
    return *this;
  }
  BitWriter& Code(uint32_t code, unsigned length) {
    while (length-- > 0) Bit((code >> length) & 1);
    return *this;
  }
  BitWriter& Raw(const Bytes& bytes) {
    for (uint8_t b : bytes) Put(b, 8);
    return *this;
  }
  Bytes Done() const { return bytes_; }

 private:
  void Bit(uint32_t b) {
    if (used_ % 8 == 0) bytes_.push_back(0);
    bytes_.back() |= static_cast<uint8_t>(b << (used_++ % 8));
  }
  Bytes bytes_;
  size_t used_ = 0;
};

std::string Text(const Bytes& b) {
  return std::string(b.begin(), b.end());
}

// Codes of 9 bits, unless `bits` says otherwise per code.
Bytes ShrinkCodes(std::initializer_list<uint32_t> codes, unsigned bits = 9) {
  BitWriter w;
  for (uint32_t c : codes) w.Put(c, bits);
  return w.Done();
}

TEST(Unshrink, KwKwKCodesNameTheStringBeingDefined) {
  Bytes out;
  // a, b, 257 = "ab", 259 is defined by this very step: "ab" + "a"; 258 = "ba".
  auto r = Decode(1, 0, ShrinkCodes({'a', 'b', 257, 259, 258}), 9, &out);
  EXPECT_EQ(r.status, CodecStatus::Ok);
  EXPECT_EQ(Text(out), "ababababa");
  // A string running past the declared size is cut there.
  EXPECT_EQ(Decode(1, 0, ShrinkCodes({'a', 'b', 257, 259}), 5, &out).status, CodecStatus::OutputFull);
  EXPECT_EQ(Text(out), "ababa");
  // A code beyond the one being defined is invalid; so is a string code first.
  EXPECT_EQ(Decode(1, 0, ShrinkCodes({'a', 'b', 259}), 9, &out).status, CodecStatus::BadData);
  EXPECT_EQ(Decode(1, 0, ShrinkCodes({257}), 9, &out).status, CodecStatus::BadData);
}

TEST(Unshrink, CodesWidenOnlyOnEscapeUpTo13Bits) {
  BitWriter w;
  w.Put('x', 9).Put(256, 9).Put(1, 9).Put('y', 10);
  for (unsigned bits = 10; bits < 13; ++bits) w.Put(256, bits).Put(1, bits);
  w.Put('z', 13);
  Bytes out;
  EXPECT_EQ(Decode(1, 0, w.Done(), 3, &out).status, CodecStatus::Ok);
  EXPECT_EQ(Text(out), "xyz");
  w.Put(256, 13).Put(1, 13).Put('!', 13);
  EXPECT_EQ(Decode(1, 0, w.Done(), 4, &out).status, CodecStatus::BadData);
  for (uint32_t op : {0u, 3u, 256u})
    EXPECT_EQ(Decode(1, 0, ShrinkCodes({'x', 256, op, 'y'}), 2, &out).status, CodecStatus::BadData) << op;
}

TEST(Unshrink, PartialClearFreesLeavesOnlyAndReusesTheLowestCode) {
  // a b 257 c: 257 = "ab", 258 = "ba", 259 = "abc". 258 and 259 are leaves,
  // 257 is the prefix of 259. After 256,2 the code after "c" ("d") defines
  // 258 = "cd", the lowest free code; 257 still means "ab".
  Bytes out;
  auto r = Decode(1, 0, ShrinkCodes({'a', 'b', 257, 'c', 256, 2, 'd', 257, 258}), 10, &out);
  EXPECT_EQ(r.status, CodecStatus::Ok);
  EXPECT_EQ(Text(out), "ababcdabcd");
  // Right after the clear 259 is free and 258 is the next code to be defined.
  EXPECT_EQ(Decode(1, 0, ShrinkCodes({'a', 'b', 257, 'c', 256, 2, 259}), 10, &out).status,
            CodecStatus::BadData);
}

// 256 follower sets, last byte value first; `sets` gives the non-empty ones.
BitWriter FollowerSets(const std::map<int, std::string>& sets) {
  BitWriter w;
  for (int j = 255; j >= 0; --j) {
    const auto it = sets.find(j);
    const std::string s = it == sets.end() ? "" : it->second;
    w.Put(static_cast<uint32_t>(s.size()), 6).Raw(Bytes(s.begin(), s.end()));
  }
  return w;
}

TEST(Unreduce, EscapesAndMatchesForEveryFactor) {
  for (int factor = 1; factor <= 4; ++factor) {
    SCOPED_TRACE(factor);
    const uint8_t all_ones = static_cast<uint8_t>(0x7F >> (factor - 1));  // length bits of V
    const uint8_t far = static_cast<uint8_t>(1u << (8 - factor));         // lowest distance bit of V
    const Bytes stream = FollowerSets({})
                             .Raw({'a', 'b', 'c', 144, 0})  // DLE 0 is a literal 144
                             .Raw({144, 1, 3})              // length 1 + 3 from distance 3 + 1
                             .Raw({144, all_ones, 2, 0})    // length all_ones + 2 + 3, distance 1
                             .Raw({144, far, 0})            // distance 256 + 1: before the output
                             .Done();
    std::string expected =
        "abc\x90"
        "abc\x90";
    expected += std::string(all_ones + 5u, '\x90') + std::string(3, '\0');
    Bytes out;
    const CodecResult r = Decode(static_cast<uint16_t>(factor + 1), 0, stream, expected.size(), &out);
    EXPECT_EQ(r.status, CodecStatus::Ok);
    EXPECT_EQ(Text(out), expected);
  }
}

TEST(Unreduce, FollowerSetsPredictFromTheUnexpandedByte) {
  // S(0) = "x" (1 index bit), S('x') = "yzw" (2 index bits). After DLE 0 the
  // previous byte is 0, not the 144 it expands to.
  BitWriter w = FollowerSets({{0, "x"}, {'x', "yzw"}});
  w.Put(0, 1).Put(0, 1);              // S(0)[0] = x
  w.Put(0, 1).Put(2, 2);              // S(x)[2] = w
  w.Put('x', 8);                      // S(w) is empty: a plain byte
  w.Put(1, 1).Put(144, 8).Put(0, 8);  // flagged literal DLE; S(144) is empty: 0
  w.Put(0, 1).Put(0, 1);              // S(0)[0] = x again
  Bytes out;
  EXPECT_EQ(Decode(2, 0, w.Done(), 5, &out).status, CodecStatus::Ok);
  EXPECT_EQ(Text(out), "xwx\x90x");
}

TEST(Unreduce, InvalidSetsAndIndexesAreBadData) {
  Bytes out;
  EXPECT_EQ(Decode(2, 0, BitWriter().Put(33, 6).Done(), 1, &out).status, CodecStatus::BadData);
  BitWriter w = FollowerSets({{0, "abc"}});
  w.Put(0, 1).Put(3, 2);  // index 3 of a 3-byte set
  EXPECT_EQ(Decode(2, 0, w.Done(), 1, &out).status, CodecStatus::BadData);
  const Bytes fine = FollowerSets({}).Raw({'a'}).Done();
  EXPECT_EQ(Unreduce(0, fine.data(), fine.size(), out.data(), 0).status, CodecStatus::BadData);
  EXPECT_EQ(Unreduce(5, fine.data(), fine.size(), out.data(), 0).status, CodecStatus::BadData);
}

// A tree in which every one of `symbols` symbols has the same code length; the
// codes then count down: symbol s is symbols - 1 - s.
Bytes UniformTree(unsigned symbols, unsigned length) {
  Bytes tree{static_cast<uint8_t>(symbols / 16 - 1)};
  for (unsigned i = 0; i < symbols / 16; ++i) tree.push_back(static_cast<uint8_t>(0xF0 | (length - 1)));
  return tree;
}

TEST(Explode, FourKWindowTwoTreesPlainLiteralsMatchesFromTwoBytes) {
  BitWriter w;
  w.Raw(UniformTree(64, 6)).Raw(UniformTree(64, 6));  // lengths, then distances
  w.Put(1, 1).Put('a', 8).Put(1, 1).Put('b', 8);
  w.Put(0, 1).Put(1, 6).Code(63 - 0, 6).Code(63 - 0, 6);             // distance 2, length 0 + 2
  w.Put(0, 1).Put(3, 6).Code(63 - 0, 6).Code(63 - 63, 6).Put(5, 8);  // distance 4, length 63 + 2 + 5
  w.Put(0, 1).Put(63, 6).Code(63 - 63, 6).Code(63 - 2, 6);           // distance 4096, length 4
  std::string expected;
  for (int i = 0; i < 74; ++i) expected += "ab"[i % 2];
  expected += std::string(4, '\0');
  Bytes out;
  EXPECT_EQ(Decode(6, 0, w.Done(), expected.size(), &out).status, CodecStatus::Ok);
  EXPECT_EQ(Text(out), expected);
  // A match running past the declared size is cut there.
  EXPECT_EQ(Decode(6, 0, w.Done(), 9, &out).status, CodecStatus::OutputFull);
  EXPECT_EQ(Text(out), expected.substr(0, 9));
}

TEST(Explode, EightKWindowLiteralTreeMatchesFromThreeBytesAndLongCodes) {
  // Literal tree with codes of 8 to 16 bits: symbols 0-246 have 8 bits,
  // 247 9 bits, ..., 253 15 bits, 254 and 255 16 bits. Counting down from the
  // longest: 255 = 0, 254 = 1, 253..247 = 1 (in their lengths), s <= 246 = 247 - s.
  // The patterns 11111xxx are unused.
  Bytes literal{23};
  for (int i = 0; i < 15; ++i) literal.push_back(0xF7);
  literal.insert(literal.end(), {0x67, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x1F});
  // Lengths: 2, 2, 2 bits for 0-2, 7 bits for 3-5, 8 bits for 6-63:
  // 0 = 11, 1 = 10, 2 = 01, 3 = 0011111, 4 = 0011110, 5 = 0011101, s >= 6 = 63 - s.
  const Bytes mixed{5, 0x21, 0x26, 0xF7, 0xF7, 0xF7, 0x97};
  BitWriter w;
  w.Raw(literal).Raw(mixed).Raw(mixed);
  w.Put(1, 1).Code(247 - 'x', 8).Put(1, 1).Code(247 - 'y', 8);
  w.Put(1, 1).Code(1, 9).Put(1, 1).Code(1, 10).Put(1, 1).Code(1, 15);  // 247, 248, 253
  w.Put(1, 1).Code(1, 16).Put(1, 1).Code(0, 16);                       // 254, 255
  w.Put(0, 1).Put(6, 7).Code(3, 2).Code(3, 2);                         // distance 7, length 0 + 3
  w.Put(0, 1).Put(0, 7).Code(63 - 63, 8).Code(31, 7);                  // distance 8065, length 3 + 3
  const std::string expected = std::string("xy\xF7\xF8\xFD\xFE\xFF") + "xy\xF7" + std::string(6, '\0');
  Bytes out;
  EXPECT_EQ(Decode(6, 6, w.Done(), expected.size(), &out).status, CodecStatus::Ok);
  EXPECT_EQ(Text(out), expected);
  w.Put(1, 1).Code(0xF8, 8);  // an unused pattern
  EXPECT_EQ(Decode(6, 6, w.Done(), expected.size() + 1, &out).status, CodecStatus::BadData);
  // Flag bits other than 1 and 2 change nothing.
  EXPECT_EQ(Decode(6, 0x2006, w.Done(), expected.size(), &out).status, CodecStatus::Ok);
}

TEST(Explode, TreesThatMakeNoPrefixCodeAreBadData) {
  const Bytes distances = UniformTree(64, 6);
  const std::vector<Bytes> bad_length_trees = {
      {3, 0xF5, 0xF5, 0xF5, 0xE5},        // 63 lengths
      {4, 0xF5, 0xF5, 0xF5, 0xF5, 0x05},  // 65 lengths
      UniformTree(64, 5),                 // 64 codes of 5 bits cannot all exist
      {4, 0x00, 0xFF, 0xFF, 0xFF, 0xEF},  // 1 bit, then 63 x 16 bits: the 1-bit code is a prefix of theirs
  };
  for (const Bytes& tree : bad_length_trees) {
    Bytes in = tree;
    in.insert(in.end(), distances.begin(), distances.end());
    in.insert(in.end(), 8, 0);
    Bytes out;
    EXPECT_EQ(Decode(6, 0, in, 4, &out).status, CodecStatus::BadData);
  }
}

}  // namespace
