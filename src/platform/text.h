// Text rules shared by every command: lengths count user-perceived characters
// (extended grapheme clusters), cuts never split one, and strings are equal when they
// are canonically equivalent.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace nevo {

// Whether every byte is ASCII (such a text is valid UTF-8 and needs no Unicode rules).
bool isAscii(std::string_view s);

// The first `maxCharacters` user-perceived characters of a UTF-8 string; a shorter string
// whole.
std::string graphemePrefix(std::string_view text, std::size_t maxCharacters);

// Whether the string has more than `maxCharacters` user-perceived characters. Stops
// counting as soon as it knows.
bool longerThan(std::string_view text, std::size_t maxCharacters);

// The canonical decomposition of a UTF-8 string as code points: two strings are
// canonically equivalent exactly when their forms are equal. Combining marks are put in
// canonical order with a sort, so that no string, however many marks one character
// carries, costs more than n log n. A byte that is not valid UTF-8 stands for itself, as
// a value above the Unicode range that no text produces.
std::u32string canonicalForm(std::string_view text);

// Equality under Unicode canonical equivalence: a precomposed letter equals the same
// letter followed by its combining mark.
bool canonicallyEqual(std::string_view a, std::string_view b);

}  // namespace nevo
