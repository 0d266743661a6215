// Text rules shared by the query language, the HTML document, the page loader,
// the download job and vexel-dl: byte searches, trimming, integer scanning and
// ASCII letter case.
//
// All texts are UTF-8. Because UTF-8 is self-synchronising, a plain byte search
// for a valid UTF-8 needle can never start a match in the middle of a
// character, so byte searches are also character-aligned searches.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vexel::text {

inline constexpr std::size_t kNotFound = std::string_view::npos;

// Position of the first `needle` in `haystack` at or after `from`, or kNotFound.
std::size_t Find(std::string_view haystack, std::string_view needle, std::size_t from = 0);

// Removes the space character (0x20) at both ends; tabs, line breaks and other
// white space stay.
std::string_view TrimSpaces(std::string_view text);

// The part of `text` that starts at `start` and is `length` bytes long, clamped
// instead of failing: a negative length counts as 0, a part that would run past
// the end stops there, and a start outside the text gives the empty string.
std::string ClampedSubstr(std::string_view text, std::int64_t start, std::int64_t length);

// Replaces every `from` with `to`, scanning left to right; occurrences do not
// overlap and inserted text is not scanned again.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);

// A decimal integer read the way the C library's "%d" conversion reads one:
// leading white space (space, \t, \n, \v, \f, \r) skipped, then an optional
// sign, then at least one decimal digit.
struct ScannedInteger {
  std::int64_t value = 0;   // saturated at the limits of int64_t
  bool overflowed = false;  // the digits did not fit in int64_t
};
std::optional<ScannedInteger> ScanInteger(std::string_view text);

// Reads `literal` followed by an integer as above ("element%d", ">共%d").
// Nothing is read when `text` does not begin with `literal` byte for byte.
std::optional<ScannedInteger> ScanAfterLiteral(std::string_view text, std::string_view literal);

// ASCII letter case only: every other byte, UTF-8 included, stays as it is, so
// tag names, attribute names and encoding labels compare the way HTML and
// URLs compare them.
constexpr char ToLowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr char ToUpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);
bool StartsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix);

constexpr bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The white space of HTML and CSS: space, tab, line feed, form feed and
// carriage return.
constexpr bool IsAsciiWhitespace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}
std::string_view TrimAsciiWhitespace(std::string_view text);
// Trimmed, with every run of white space inside made one space.
std::string CollapseAsciiWhitespace(std::string_view text);

}  // namespace vexel::text
