// An in-memory PageDocument for tests and benchmarks: elements carry their
// eight property texts and a kind for the write side, and the document can
// record every call the query language makes, so tests can check the order
// and number of reads.
#pragma once

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "query/page_document.h"

namespace vexel::testing {

enum class FakeKind { Other, Select, Input };

class FakeDocument;

class FakeElement final : public PageElement {
 public:
  FakeElement(FakeDocument* owner, long index) : owner_(owner), index_(index) {}

  FakeElement& Set(ElementProperty property, std::string text) {
    texts_[static_cast<std::size_t>(property)] = std::move(text);
    return *this;
  }
  FakeElement& Kind(FakeKind kind) {
    kind_ = kind;
    return *this;
  }
  // What the document answers to a write on an element of the right kind.
  FakeElement& Refuse(bool refuse = true) {
    refuse_ = refuse;
    return *this;
  }

  void ReadProperty(ElementProperty property, std::string& out) const override;
  ActionOutcome Click() override;
  ActionOutcome SetSelectedIndex(long index) override;
  ActionOutcome SetValue(std::string_view value) override;

  int clicks = 0;
  long selected_index = -1;
  std::string value;

 private:
  FakeDocument* owner_;
  long index_;
  std::array<std::string, 8> texts_{};
  FakeKind kind_ = FakeKind::Other;
  bool refuse_ = false;
};

class FakeDocument final : public PageDocument {
 public:
  // Adds an element and returns it for chained Set calls.
  FakeElement& Add() {
    elements_.emplace_back(this, static_cast<long>(elements_.size()));
    return elements_.back();
  }
  // Adds an element with just a class and an innerText.
  FakeElement& Add(std::string class_name, std::string inner_text) {
    return Add()
        .Set(ElementProperty::ClassName, std::move(class_name))
        .Set(ElementProperty::InnerText, std::move(inner_text));
  }
  // Entries at these positions give no element.
  void MakeGap(long index) { gaps_.push_back(index); }

  FakeElement& operator[](std::size_t index) { return elements_[index]; }

  bool busy = false;
  bool recording = false;
  std::vector<std::string> calls;

  bool IsBusy() override {
    Record([&] { return std::string("IsBusy"); });
    return busy;
  }
  long ElementCount() override {
    Record([&] { return std::string("ElementCount"); });
    return static_cast<long>(elements_.size());
  }
  PageElement* ElementAt(long index) override {
    Record([&] { return "ElementAt " + std::to_string(index); });
    for (long gap : gaps_) {
      if (gap == index) {
        return nullptr;
      }
    }
    if (index < 0 || index >= static_cast<long>(elements_.size())) {
      return nullptr;
    }
    return &elements_[static_cast<std::size_t>(index)];
  }

  // Takes a callable so that nothing is formatted unless recording is on.
  template <typename MakeText>
  void Record(MakeText make_text) {
    if (recording) {
      calls.push_back(make_text());
    }
  }

 private:
  std::vector<FakeElement> elements_;
  std::vector<long> gaps_;
};

inline void FakeElement::ReadProperty(ElementProperty property, std::string& out) const {
  owner_->Record(
      [&] { return "Read " + std::to_string(index_) + " " + std::string(PropertyName(property)); });
  out = texts_[static_cast<std::size_t>(property)];
}

inline ActionOutcome FakeElement::Click() {
  owner_->Record([&] { return "Click " + std::to_string(index_); });
  ++clicks;
  return refuse_ ? ActionFailed : ActionDone;
}

inline ActionOutcome FakeElement::SetSelectedIndex(long index) {
  owner_->Record([&] { return "SetSelectedIndex " + std::to_string(index_); });
  if (kind_ != FakeKind::Select) {
    return ActionNotApplicable;
  }
  if (refuse_) {
    return ActionFailed;
  }
  selected_index = index;
  return ActionDone;
}

inline ActionOutcome FakeElement::SetValue(std::string_view new_value) {
  owner_->Record([&] { return "SetValue " + std::to_string(index_); });
  if (kind_ != FakeKind::Input) {
    return ActionNotApplicable;
  }
  if (refuse_) {
    return ActionFailed;
  }
  value = std::string(new_value);
  return ActionDone;
}

}  // namespace vexel::testing
