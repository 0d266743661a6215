#include "html/markup_limits.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "html/html_tags.h"
#include "text/text.h"

namespace vexel::html {
namespace {

using enum tags::parse::Role;

std::uint32_t RolesOf(std::string_view name) { return tags::TraitsOf(name).roles; }

// FNV-1a over the lower-cased name: start and end tags meet by this value.
std::uint64_t HashName(std::string_view name) {
  std::uint64_t hash = 1469598103934665603ULL;
  for (const char c : name) {
    hash ^= static_cast<unsigned char>(text::ToLowerAscii(c));
    hash *= 1099511628211ULL;
  }
  return hash;
}

std::size_t NameEnd(std::string_view markup, std::size_t pos) {
  while (pos < markup.size() && !text::IsAsciiWhitespace(markup[pos]) && markup[pos] != '/' &&
         markup[pos] != '>') {
    ++pos;
  }
  return pos;
}

// Moves past the attributes of a tag and its closing ">", following the
// tokenizer's attribute states (quoted values may hold ">").
std::size_t SkipAttributes(std::string_view markup, std::size_t pos, std::size_t& count,
                           bool& self_closing) {
  count = 0;
  self_closing = false;
  const std::size_t size = markup.size();
  while (true) {
    while (pos < size && text::IsAsciiWhitespace(markup[pos])) {
      ++pos;
    }
    if (pos >= size) {
      return size;
    }
    if (markup[pos] == '>') {
      return pos + 1;
    }
    if (markup[pos] == '/') {
      ++pos;
      if (pos < size && markup[pos] == '>') {
        self_closing = true;
        return pos + 1;
      }
      continue;
    }
    ++count;
    ++pos;  // the first character of a name may be anything, even "="
    while (pos < size && !text::IsAsciiWhitespace(markup[pos]) && markup[pos] != '/' &&
           markup[pos] != '>' && markup[pos] != '=') {
      ++pos;
    }
    while (pos < size && text::IsAsciiWhitespace(markup[pos])) {
      ++pos;
    }
    if (pos >= size || markup[pos] != '=') {
      continue;
    }
    ++pos;
    while (pos < size && text::IsAsciiWhitespace(markup[pos])) {
      ++pos;
    }
    if (pos < size && (markup[pos] == '"' || markup[pos] == '\'')) {
      const std::size_t close = markup.find(markup[pos], pos + 1);
      if (close == std::string_view::npos) {
        return size;
      }
      pos = close + 1;
    } else {
      while (pos < size && !text::IsAsciiWhitespace(markup[pos]) && markup[pos] != '>') {
        ++pos;
      }
    }
  }
}

std::size_t SkipPast(std::string_view markup, std::size_t pos, char c) {
  const std::size_t found = markup.find(c, pos);
  return found == std::string_view::npos ? markup.size() : found + 1;
}

// `pos` is just after "<!--". Comments end at "-->" or "--!>", and "<!-->"
// and "<!--->" are whole (empty) comments.
std::size_t SkipComment(std::string_view markup, std::size_t pos) {
  const std::size_t size = markup.size();
  if (pos < size && markup[pos] == '>') {
    return pos + 1;
  }
  if (pos + 1 < size && markup[pos] == '-' && markup[pos + 1] == '>') {
    return pos + 2;
  }
  while (true) {
    const std::size_t dashes = markup.find("--", pos);
    if (dashes == std::string_view::npos) {
      return size;
    }
    std::size_t after = dashes + 2;
    while (after < size && markup[after] == '-') {
      ++after;
    }
    if (after < size && markup[after] == '>') {
      return after + 1;
    }
    if (after + 1 < size && markup[after] == '!' && markup[after + 1] == '>') {
      return after + 2;
    }
    pos = after;
  }
}

// `pos` is just after the start tag of raw text element `name`; moves past
// its end tag.
std::size_t SkipRawText(std::string_view markup, std::size_t pos, std::string_view name) {
  for (std::size_t at = markup.find("</", pos); at != std::string_view::npos;
       at = markup.find("</", at + 2)) {
    const std::size_t name_begin = at + 2;
    if (markup.size() - name_begin < name.size() ||
        !text::EqualsIgnoringAsciiCase(markup.substr(name_begin, name.size()), name)) {
      continue;
    }
    const std::size_t after = name_begin + name.size();
    if (after >= markup.size()) {
      return markup.size();
    }
    if (text::IsAsciiWhitespace(markup[after]) || markup[after] == '/' || markup[after] == '>') {
      std::size_t count = 0;
      bool self_closing = false;
      return SkipAttributes(markup, after, count, self_closing);
    }
  }
  return markup.size();
}

class OpenStack {
 public:
  struct Entry {
    std::uint64_t hash;
    std::uint32_t roles;
  };

  std::size_t Size() const { return entries_.size(); }
  bool InForeignContent() const { return foreign_ > 0; }
  bool Empty() const { return entries_.empty(); }
  const Entry& Top() const { return entries_.back(); }

  void Push(std::uint64_t hash, std::uint32_t roles) {
    entries_.push_back({hash, roles});
    if ((roles & kForeign) != 0) {
      ++foreign_;
    }
  }
  void Pop() {
    if ((entries_.back().roles & kForeign) != 0) {
      --foreign_;
    }
    entries_.pop_back();
  }
  // Pops entries down to and including position `index`.
  void PopTo(std::size_t index) {
    while (entries_.size() > index) {
      Pop();
    }
  }
  // The nearest entry (from the top) with a role in `wanted`, or npos when an
  // entry with a role in `stop` (and none in `wanted`) comes first.
  std::size_t FindRole(std::uint32_t wanted, std::uint32_t stop) const {
    for (std::size_t i = entries_.size(); i-- > 0;) {
      if ((entries_[i].roles & wanted) != 0) {
        return i;
      }
      if ((entries_[i].roles & stop) != 0) {
        return kNone;
      }
    }
    return kNone;
  }
  std::size_t FindName(std::uint64_t hash, std::uint32_t stop) const {
    for (std::size_t i = entries_.size(); i-- > 0;) {
      if (entries_[i].hash == hash) {
        return i;
      }
      if ((entries_[i].roles & stop) != 0) {
        return kNone;
      }
    }
    return kNone;
  }
  bool Contains(std::uint32_t roles) const { return FindRole(roles, 0) != kNone; }
  // A new list item (or dd, dt) closes the open one unless a special element
  // other than address, div and p stands between them.
  std::size_t FindListItem(std::uint32_t wanted) const {
    for (std::size_t i = entries_.size(); i-- > 0;) {
      const std::uint32_t roles = entries_[i].roles;
      if ((roles & wanted) != 0) {
        return i;
      }
      if ((roles & kSpecial) != 0 && (roles & kLiTransparent) == 0) {
        return kNone;
      }
    }
    return kNone;
  }

  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

 private:
  std::vector<Entry> entries_;
  int foreign_ = 0;
};

// The stack changes that a start tag causes before its element is pushed.
void CloseForStartTag(OpenStack& stack, std::uint64_t hash, std::uint32_t roles) {
  constexpr std::size_t kNone = OpenStack::kNone;
  const auto pop_found = [&](std::size_t found) {
    if (found != kNone) {
      stack.PopTo(found);
    }
  };
  static const std::uint64_t kParagraph = HashName("p");
  static const std::uint64_t kBody = HashName("tbody");
  static const std::uint64_t kRowName = HashName("tr");
  if ((roles & kClosesP) != 0) {
    pop_found(stack.FindName(kParagraph, kScopeBoundary | kButton));
  }
  if ((roles & kCell) != 0) {
    pop_found(stack.FindRole(kCell, kTableBoundary));
  }
  if ((roles & kRow) != 0) {
    pop_found(stack.FindRole(kRow, kTableBoundary));
  }
  if ((roles & kSection) != 0) {
    pop_found(stack.FindRole(kSection, kTableBoundary));
  }
  // Rows and cells placed straight into a table get the parser's implied
  // tbody and tr.
  if ((roles & (kCell | kRow)) != 0 && !stack.Empty() && (stack.Top().roles & kTable) != 0) {
    stack.Push(kBody, kSection | kSpecial);
  }
  if ((roles & kCell) != 0 && !stack.Empty() && (stack.Top().roles & kSection) != 0) {
    stack.Push(kRowName, kRow | kSpecial);
  }
  if ((roles & kListItem) != 0) {
    pop_found(stack.FindListItem(kListItem));
  }
  if ((roles & kDefinition) != 0) {
    pop_found(stack.FindListItem(kDefinition));
  }
  if ((roles & kOption) != 0 && !stack.Empty() && (stack.Top().roles & kOption) != 0) {
    stack.Pop();
  }
  if ((roles & kOptgroup) != 0) {
    if (!stack.Empty() && (stack.Top().roles & kOption) != 0) {
      stack.Pop();
    }
    if (!stack.Empty() && (stack.Top().roles & kOptgroup) != 0) {
      stack.Pop();
    }
  }
  if ((roles & kHeading) != 0 && !stack.Empty() && (stack.Top().roles & kHeading) != 0) {
    stack.Pop();
  }
  if ((roles & kReopens) != 0) {
    pop_found(stack.FindName(hash, kScopeBoundary));
  }
}

}  // namespace

std::string CheckMarkupLimits(std::string_view markup, const MarkupLimits& limits,
                              MarkupCensus* census) {
  MarkupCensus counted;
  OpenStack stack;
  std::string error;
  std::size_t pos = 0;
  const std::size_t size = markup.size();
  while (error.empty()) {
    const std::size_t open = markup.find('<', pos);
    if (open == std::string_view::npos || open + 1 >= size) {
      break;
    }
    pos = open + 1;
    const char c = markup[pos];
    if (c == '!') {
      pos = markup.substr(pos).starts_with("!--") ? SkipComment(markup, pos + 3)
                                                  : SkipPast(markup, pos, '>');
      continue;
    }
    if (c == '?') {
      pos = SkipPast(markup, pos, '>');
      continue;
    }
    std::size_t attributes = 0;
    bool self_closing = false;
    if (c == '/') {
      if (pos + 1 >= size || !text::IsAsciiLetter(markup[pos + 1])) {
        pos = SkipPast(markup, pos, '>');  // "</>" or a bogus comment
        continue;
      }
      const std::size_t name_end = NameEnd(markup, pos + 1);
      const std::string_view name = markup.substr(pos + 1, name_end - pos - 1);
      pos = SkipAttributes(markup, name_end, attributes, self_closing);
      const std::uint32_t roles = RolesOf(name);
      // An end tag closes its element only when it is in scope: a cell's
      // end tag looks as far as its table, any other stops at a cell,
      // table, button or the like.
      const std::uint32_t stop =
          (roles & (kCell | kRow | kSection | kTable)) != 0 ? kTableBoundary : kScopeBoundary;
      const std::size_t found = stack.FindName(HashName(name), stop);
      if (found != OpenStack::kNone) {
        stack.PopTo(found);
      }
      continue;
    }
    if (!text::IsAsciiLetter(c)) {
      continue;  // a "<" of text
    }
    const std::size_t name_end = NameEnd(markup, pos);
    const std::string_view name = markup.substr(pos, name_end - pos);
    pos = SkipAttributes(markup, name_end, attributes, self_closing);
    ++counted.start_tags;
    counted.max_attributes = std::max(counted.max_attributes, attributes);
    counted.attributes += attributes;
    if (counted.start_tags > limits.max_start_tags) {
      error = "page has more than " + std::to_string(limits.max_start_tags) + " start tags";
      break;
    }
    if (attributes > limits.max_attributes) {
      error = "page has an element with more than " + std::to_string(limits.max_attributes) +
              " attributes";
      break;
    }
    const std::uint32_t roles = RolesOf(name);
    if ((roles & (kNotCounted | kVoid)) != 0 || (self_closing && stack.InForeignContent())) {
      continue;
    }
    if (!stack.InForeignContent()) {
      if ((roles & kRaw) != 0) {
        pos = SkipRawText(markup, pos, name);
        continue;
      }
      if ((roles & kPlaintext) != 0) {
        break;
      }
    }
    if ((roles & kForm) != 0 && stack.Contains(kForm)) {
      continue;
    }
    const std::uint64_t hash = HashName(name);
    CloseForStartTag(stack, hash, roles);
    stack.Push(hash, roles);
    counted.max_depth = std::max(counted.max_depth, stack.Size());
    if (stack.Size() > limits.max_depth) {
      error = "page nests elements more than " + std::to_string(limits.max_depth) + " levels deep";
    }
  }
  if (census != nullptr) {
    *census = counted;
  }
  return error;
}

}  // namespace vexel::html
