#include "text/text.h"

#include <limits>

namespace vexel::text {

std::size_t Find(std::string_view haystack, std::string_view needle, std::size_t from) {
  if (from > haystack.size()) {
    return kNotFound;
  }
  return haystack.find(needle, from);
}

std::string_view TrimSpaces(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) {
    return {};
  }
  const std::size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

std::string ClampedSubstr(std::string_view text, std::int64_t start, std::int64_t length) {
  const auto size = static_cast<std::int64_t>(text.size());
  if (start < 0 || start >= size || length <= 0) {
    return {};
  }
  const std::int64_t available = size - start;
  const std::int64_t taken = length < available ? length : available;
  return std::string(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(taken)));
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) {
    return std::string(text);
  }
  std::string result;
  result.reserve(text.size());
  std::size_t position = 0;
  while (true) {
    const std::size_t hit = text.find(from, position);
    if (hit == std::string_view::npos) {
      result.append(text.substr(position));
      return result;
    }
    result.append(text.substr(position, hit - position));
    result.append(to);
    position = hit + from.size();
  }
}

namespace {

bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::optional<ScannedInteger> ScanInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsCSpace(text[i])) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i >= text.size() || text[i] < '0' || text[i] > '9') {
    return std::nullopt;
  }
  // Accumulate as a negative number so that the minimum is representable.
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  ScannedInteger result;
  std::int64_t accumulated = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const int digit = text[i] - '0';
    if (!result.overflowed && accumulated < (kMin + digit) / 10) {
      result.overflowed = true;
    }
    if (!result.overflowed) {
      accumulated = accumulated * 10 - digit;
    }
  }
  if (result.overflowed) {
    result.value = negative ? kMin : std::numeric_limits<std::int64_t>::max();
  } else if (negative) {
    result.value = accumulated;
  } else if (accumulated == kMin) {
    result.value = std::numeric_limits<std::int64_t>::max();
    result.overflowed = true;
  } else {
    result.value = -accumulated;
  }
  return result;
}

std::optional<ScannedInteger> ScanAfterLiteral(std::string_view text, std::string_view literal) {
  if (!text.starts_with(literal)) {
    return std::nullopt;
  }
  return ScanInteger(text.substr(literal.size()));
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && StartsWithIgnoringAsciiCase(a, b);
}

std::string_view TrimAsciiWhitespace(std::string_view text) {
  while (!text.empty() && IsAsciiWhitespace(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && IsAsciiWhitespace(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

std::string CollapseAsciiWhitespace(std::string_view text) {
  std::string collapsed;
  bool pending_space = false;
  for (const char c : TrimAsciiWhitespace(text)) {
    if (IsAsciiWhitespace(c)) {
      pending_space = true;
      continue;
    }
    if (pending_space) {
      collapsed += ' ';
      pending_space = false;
    }
    collapsed += c;
  }
  return collapsed;
}

bool StartsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) {
    return false;
  }
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (ToLowerAscii(text[i]) != ToLowerAscii(prefix[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace vexel::text
