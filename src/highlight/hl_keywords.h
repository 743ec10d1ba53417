// The keyword lists of the highlighting modes and their whole-word lookup.
//
// Each list is written as its words separated by blanks; a token is a member when
// it equals one word of the list, so only whole words match and a token holding a
// blank never does. The Pascal, SQL, Visual Basic and HTML lists compare without
// regard to ASCII letter case, the others compare exactly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qb {

enum class TWordList : uint8_t {
  Pascal,        // 63 words, any case
  Cpp,           // 94 words, exact case
  Sql,           // 264 words, any case
  Python,        // 28 words, exact case
  Java,          // 50 words, exact case
  VbStatement,   // 96 words, any case
  VbFunction,    // 89 words, any case
  HtmlTag,       // 96 words, any case
  HtmlEntity,    // 188 names, any case
  PerlKeyword,   // 14 words, exact case
  PerlFunction,  // 17 words, exact case
};

bool IsWordInList(TWordList list, std::string_view token);
size_t WordListSize(TWordList list);

}  // namespace qb
