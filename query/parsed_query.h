// A query text taken apart into head, match index and conditions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "query/page_document.h"

namespace vexel {

enum class ConditionOperator {
  Equal,     // "="
  NotEqual,  // "!="
  Have,      // "have": the operand occurs in the text
  No,        // "no": the operand does not occur in the text
  Always,    // any other operator, including an empty one
};

struct Condition {
  std::string name;     // trimmed
  std::string op;       // trimmed, as written
  std::string operand;  // trimmed
  // The property the name designates; empty for any other name, whose text
  // then is the empty text and is never read from the element.
  std::optional<ElementProperty> property;
  ConditionOperator kind = ConditionOperator::Always;
};

struct ParsedQuery {
  static constexpr std::size_t kMaxConditions = 10;

  std::string head;              // trimmed text before " that "
  std::int64_t match_index = 0;  // N: which match is selected, counting from 0
  std::vector<Condition> conditions;
};

// Parsing never fails; every text gives some reading.
//
// Readings chosen where the language leaves the text open:
// - Without " that " the whole query is taken as having an empty head and no
//   conditions, just as a query that ends right after " that ".
// - A name that is not followed by a space runs to the end of the query and
//   the condition has an empty operator and operand (so it always holds);
//   an operator not followed by a space likewise runs to the end and the
//   operand is empty. Either way that condition is the last one read.
ParsedQuery ParseQuery(std::string_view query);

// Whether `text` satisfies the condition's operator against its operand.
bool ConditionHolds(const Condition& condition, std::string_view text);

}  // namespace vexel
