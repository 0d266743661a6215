#include "query/parsed_query.h"

#include "text/text.h"

namespace vexel {
namespace {

constexpr std::string_view kThat = " that ";
constexpr std::string_view kAnd = "AND ";
constexpr std::string_view kElement = "element";

ConditionOperator OperatorFromText(std::string_view op) {
  if (op == "=") {
    return ConditionOperator::Equal;
  }
  if (op == "!=") {
    return ConditionOperator::NotEqual;
  }
  if (op == "have") {
    return ConditionOperator::Have;
  }
  if (op == "no") {
    return ConditionOperator::No;
  }
  return ConditionOperator::Always;
}

Condition MakeCondition(std::string_view name, std::string_view op, std::string_view operand) {
  Condition condition;
  condition.name = std::string(text::TrimSpaces(name));
  condition.op = std::string(text::TrimSpaces(op));
  condition.operand = std::string(text::TrimSpaces(operand));
  condition.property = PropertyFromName(condition.name);
  condition.kind = OperatorFromText(condition.op);
  return condition;
}

std::int64_t MatchIndexOf(std::string_view head) {
  const std::size_t at = text::Find(head, kElement);
  if (at == text::kNotFound) {
    return 0;
  }
  const auto scanned = text::ScanAfterLiteral(head.substr(at), kElement);
  return scanned ? scanned->value : 0;
}

}  // namespace

ParsedQuery ParseQuery(std::string_view query) {
  ParsedQuery parsed;
  const std::size_t that = text::Find(query, kThat);
  if (that == text::kNotFound) {
    return parsed;
  }
  parsed.head = std::string(text::TrimSpaces(query.substr(0, that)));
  parsed.match_index = MatchIndexOf(parsed.head);

  std::size_t position = that + kThat.size();
  while (position < query.size() && parsed.conditions.size() < ParsedQuery::kMaxConditions) {
    const std::size_t name_end = query.find(' ', position);
    if (name_end == std::string_view::npos) {
      parsed.conditions.push_back(MakeCondition(query.substr(position), {}, {}));
      break;
    }
    const std::size_t op_start = name_end + 1;
    const std::size_t op_end = query.find(' ', op_start);
    if (op_end == std::string_view::npos) {
      parsed.conditions.push_back(
          MakeCondition(query.substr(position, name_end - position), query.substr(op_start), {}));
      break;
    }
    const std::size_t operand_start = op_end + 1;
    const std::size_t and_at = text::Find(query, kAnd, operand_start);
    const std::size_t operand_end = and_at == text::kNotFound ? query.size() : and_at;
    parsed.conditions.push_back(MakeCondition(
        query.substr(position, name_end - position), query.substr(op_start, op_end - op_start),
        query.substr(operand_start, operand_end - operand_start)));
    position = and_at == text::kNotFound ? query.size() : and_at + kAnd.size();
  }
  return parsed;
}

bool ConditionHolds(const Condition& condition, std::string_view text) {
  switch (condition.kind) {
    case ConditionOperator::Equal:
      return text == condition.operand;
    case ConditionOperator::NotEqual:
      return text != condition.operand;
    case ConditionOperator::Have:
      return text.find(condition.operand) != std::string_view::npos;
    case ConditionOperator::No:
      return text.find(condition.operand) == std::string_view::npos;
    case ConditionOperator::Always:
      return true;
  }
  return true;
}

}  // namespace vexel
