#include "query/element_query.h"

#include <algorithm>
#include <limits>
#include <string_view>

#include "text/text.h"

namespace vexel {
namespace {

constexpr std::string_view kClickHead = "click element";
constexpr std::string_view kSelectHead = "select ";
constexpr std::string_view kSetHead = "set ";

// A hostile page can nest thousands of elements that pass the cheap first
// condition, each of whose markup or text holds most of the page; reading
// them all would take minutes. An evaluation that has read this much
// property text in its conditions gives up as finding nothing. Real pages
// read a small fraction of it.
constexpr std::size_t kConditionReadBudget = std::size_t{256} << 20;

enum class Verdict { Pass, Fail, OverBudget };

// Conditions are tested in written order and stop at the first failure, so
// the later (usually costlier) properties are read only for candidates.
Verdict PassesAll(const std::vector<Condition>& conditions, const PageElement& element,
                  std::string& buffer, std::size_t& bytes_read) {
  for (const Condition& condition : conditions) {
    std::string_view value;
    if (condition.property) {
      element.ReadProperty(*condition.property, buffer);
      bytes_read += buffer.size();
      if (bytes_read > kConditionReadBudget) {
        return Verdict::OverBudget;
      }
      value = text::TrimSpaces(buffer);
    }
    if (!ConditionHolds(condition, value)) {
      return Verdict::Fail;
    }
  }
  return Verdict::Pass;
}

PageElement* SelectElement(PageDocument& document, const ParsedQuery& parsed) {
  const long count = document.ElementCount();
  std::int64_t countdown = parsed.match_index;
  std::string buffer;
  std::size_t bytes_read = 0;
  for (long i = 0; i < count; ++i) {
    PageElement* element = document.ElementAt(i);
    if (element == nullptr) {
      continue;
    }
    const Verdict verdict = PassesAll(parsed.conditions, *element, buffer, bytes_read);
    if (verdict == Verdict::OverBudget) {
      return nullptr;
    }
    if (verdict == Verdict::Fail) {
      continue;
    }
    // Tested before counting down, so that an index at the very bottom of
    // the 64-bit range selects the first match instead of overflowing.
    if (countdown <= 0) {
      return element;
    }
    --countdown;
  }
  return nullptr;
}

QueryResult ApplySelect(std::string_view head, PageElement& element) {
  // "select %ld": the word, optional white space, then the option index.
  const auto scanned = text::ScanAfterLiteral(head, "select");
  long index = 0;
  if (scanned) {
    constexpr std::int64_t kLongMax = std::numeric_limits<long>::max();
    constexpr std::int64_t kLongMin = std::numeric_limits<long>::min();
    index = static_cast<long>(std::clamp(scanned->value, kLongMin, kLongMax));
  }
  return element.SetSelectedIndex(index) == ActionNotApplicable ? QueryNoMatch : QueryMatched;
}

QueryResult ApplySet(std::string_view head, PageElement& element) {
  const std::size_t equals = text::Find(head, " =");
  if (equals == text::kNotFound) {
    return QueryMatched;
  }
  std::string_view value = text::TrimSpaces(head.substr(equals + 2));
  if (value.starts_with("[")) {
    value.remove_prefix(1);
  }
  if (!value.empty() && value.back() == ']') {
    value.remove_suffix(1);
  }
  return element.SetValue(value) == ActionNotApplicable ? QueryNoMatch : QueryMatched;
}

QueryResult ApplyHead(std::string_view head, PageElement& element, std::string& out) {
  if (head.starts_with(kClickHead)) {
    element.Click();
    return QueryMatched;
  }
  if (head.starts_with(kSelectHead)) {
    return ApplySelect(head, element);
  }
  if (head.starts_with(kSetHead)) {
    return ApplySet(head, element);
  }
  if (const auto property = PropertyAtStartOf(head)) {
    element.ReadProperty(*property, out);
  }
  return QueryMatched;
}

}  // namespace

// The query is taken by value on purpose: the call works on its own copy, so a
// caller may pass a text that the evaluation's effects (a click's navigation)
// could change.
QueryResult ElementQuery::Evaluate(
    std::string query,  // NOLINT(performance-unnecessary-value-param)
    std::string& out) const {
  out.clear();
  const ParsedQuery parsed = ParseQuery(query);
  if (document_ == nullptr) {
    return QueryNoMatch;
  }
  if (document_->IsBusy()) {
    return QueryBusy;
  }
  PageElement* selected = SelectElement(*document_, parsed);
  if (selected == nullptr) {
    return QueryNoMatch;
  }
  return ApplyHead(parsed.head, *selected, out);
}

}  // namespace vexel
