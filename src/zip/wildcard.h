// The engine's name patterns: * any run of characters (also none), ? any one
// character, <...> one character of a set (a-z writes a range; a leading ! or ^
// negates it); every other character matches itself.
#pragma once

#include <string_view>

namespace qb::zip {

// True when text contains any of the characters that make a name a pattern: * ? < > |
bool HasPatternChars(std::string_view text);
// Matches text against pattern exactly as written (callers fold case first).
bool WildcardMatch(std::string_view pattern, std::string_view text);

}  // namespace qb::zip
