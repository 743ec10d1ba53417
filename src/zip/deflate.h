// Deflate compressor (RFC 1951) used by the archive writer for method 8 entries.
//
// Deflate() turns a whole in-memory buffer into one raw Deflate stream (no zlib
// or gzip wrapper). It is a hash-chain LZ77 compressor with the classic nine
// levels: levels 1 to 3 take the first adequate match (greedy), levels 4 to 9
// look one byte ahead for a longer match (lazy). Within a level the result is
// deterministic: the same input always gives the same bytes.
//
// The compressor also makes the two decisions the archive writer records in the
// entry: whether compression pays at all (when it does not, the writer stores
// the input unchanged, method 0), and whether the data looks like text (the
// entry's internal attributes).
//
// Each thread keeps its working tables (hash heads and chains, the symbol
// buffer, about 450 KiB) from one call to the next, so that compressing clip
// after clip pays neither for allocating them nor for clearing them; nothing
// of one call's input affects the next call's output. Concurrent calls on
// different threads are safe. It never throws except std::bad_alloc when the
// output or the tables cannot be allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qb::zip {

struct DeflateOutput {
  std::vector<uint8_t> data;  // the raw Deflate stream; empty when stored_whole
  bool stored_whole = false;  // compression does not pay (or the input is empty): the caller stores the input
                              // unchanged (method 0)
  bool is_text = false;       // text detection of the first block (the entry's internal attributes become 1)
};

// Compresses in[0, len) at `level` 1..9 (values outside are clamped). `in` may be
// null when len is 0. The stream ends with a final block and is padded to a byte
// boundary.
DeflateOutput Deflate(const uint8_t* in, size_t len, int level);

// Deflate() without its shortcuts: runs of one byte value entered into the
// hash chains position by position, the positions of a short match at the
// greedy levels entered by the general code, the match search walking every
// candidate of a run and counting its candidates one by one, four-link chain
// nodes at every level, and the tables slid by the code built for every
// processor. The
// shortcuts only make the same work cheaper, so the output must be byte for
// byte that of Deflate(); for tests.
DeflateOutput DeflatePlain(const uint8_t* in, size_t len, int level);

}  // namespace qb::zip
