#include "app/live_page_document.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QUrl>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineScript>

#include <utility>

#include "app/page_snapshot.h"
#include "app/ui_call_gate.h"
#include "html/tree_builder.h"

namespace vexel::app {
namespace {

using Clock = std::chrono::steady_clock;

// Feeds the snapshot into the same builder that parsed markup goes through,
// so the queries see one rendering whichever way the tree was made.
class BuilderSink : public SnapshotSink {
 public:
  void OpenElement(std::string_view tag, std::span<const html::HtmlAttributeView> attributes,
                   bool rendered) override {
    builder_.OpenElementFrom(tag, attributes, rendered);
  }
  void CloseElement() override { builder_.CloseElement(); }
  void AddText(std::string_view text) override { builder_.AddText(text); }
  void AddComment(std::string_view text) override { builder_.AddComment(text); }

  html::TreeBuilder& builder() { return builder_; }

 private:
  html::TreeBuilder builder_;
};

// The action script: its one argument is [index, TAG, kind, value]. It
// answers "done", "refused" (the element kept its old state), "gone" (no
// element with that index and tag any more) or "fault" (the page threw).
constexpr char16_t kActionScript[] =
    uR"JS((function (a) {
  var e = document.getElementsByTagName('*')[a[0]];
  if (!e || e.tagName.toUpperCase() !== a[1]) return 'gone';
  try {
    if (a[2] === 'click') { e.click(); return 'done'; }
    if (a[2] === 'select') { e.selectedIndex = a[3]; return e.selectedIndex === a[3] ? 'done' : 'refused'; }
    if (a[2] === 'set') { e.value = a[3]; return 'done'; }
  } catch (x) { return 'fault'; }
  return 'fault';
})()JS";

QString ActionScript(long index, const std::string& tag, const char* kind,
                     const QJsonValue& value) {
  const QJsonArray argument{static_cast<double>(index), QString::fromStdString(tag),
                            QString::fromLatin1(kind), value};
  return QString::fromUtf16(kActionScript) +
         QString::fromUtf8(QJsonDocument(argument).toJson(QJsonDocument::Compact)) + u')';
}

}  // namespace

// An element of the snapshot that reads from the snapshot and acts on the
// live page.
class LivePageDocument::LiveElement : public PageElement {
 public:
  LiveElement(LivePageDocument& owner, PageElement& snapshot, long index)
      : owner_(owner), snapshot_(snapshot), index_(index) {}

  void ReadProperty(ElementProperty property, std::string& out) const override {
    snapshot_.ReadProperty(property, out);
  }
  bool ReadAttribute(std::string_view name, std::string& out) const override {
    return snapshot_.ReadAttribute(name, out);
  }

  ActionOutcome Click() override {
    return Act("click", QJsonValue()) == u"done" ? ActionDone : ActionFailed;
  }

  ActionOutcome SetSelectedIndex(long index) override {
    if (Tag() != "SELECT") {
      return ActionNotApplicable;
    }
    return Outcome(Act("select", QJsonValue(static_cast<double>(index))));
  }

  ActionOutcome SetValue(std::string_view value) override {
    if (Tag() != "INPUT") {
      return ActionNotApplicable;
    }
    const QString text = QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
    return Outcome(Act("set", QJsonValue(text)));
  }

 private:
  std::string Tag() const { return snapshot_.Read(ElementProperty::TagName); }

  QString Act(const char* kind, const QJsonValue& value) {
    return owner_.RunScript(ActionScript(index_, Tag(), kind, value)).value_or(QString());
  }

  // A page that threw while selecting or setting could not take the action;
  // one that ignored it, or lost the element, refused it.
  static ActionOutcome Outcome(const QString& answer) {
    if (answer == u"done") {
      return ActionDone;
    }
    if (answer == u"fault") {
      return ActionNotApplicable;
    }
    return ActionFailed;
  }

  LivePageDocument& owner_;
  PageElement& snapshot_;
  long index_;
};

LivePageDocument::LivePageDocument(LivePage& page, UiCallGate& gate,
                                   const std::atomic<bool>* give_up, std::size_t max_elements)
    : page_(page), gate_(gate), give_up_(give_up), max_elements_(max_elements) {}

LivePageDocument::~LivePageDocument() = default;

bool LivePageDocument::IsBusy() { return page_.PageBusy(); }

std::optional<LivePageDocument::PageAnswer> LivePageDocument::RunInPage(const QString& script) {
  LivePage* live = &page_;
  // The address is read on the same turn of the user-interface thread as the
  // script is started, so both belong to the same page.
  return gate_.Await<PageAnswer>(
      [live, script](const std::function<void(PageAnswer)>& done) {
        QWebEnginePage* page = live->EnginePage();
        const QString address = page->url().toString(QUrl::FullyEncoded);
        page->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                            [done, address](const QVariant& value) {
                              done(PageAnswer{value.toString(), address});
                            });
      },
      std::chrono::duration_cast<std::chrono::milliseconds>(kScriptTimeout), give_up_);
}

std::optional<QString> LivePageDocument::RunScript(const QString& script) {
  std::optional<PageAnswer> answer = RunInPage(script);
  if (!answer) {
    return std::nullopt;
  }
  return std::move(answer->value);
}

long LivePageDocument::ElementCount() {
  elements_.clear();
  snapshot_.reset();
  times_ = {};
  too_complex_ = false;

  const Clock::time_point start = Clock::now();
  const std::optional<PageAnswer> answer = RunInPage(SnapshotScript());
  const Clock::time_point received = Clock::now();
  if (!answer) {
    return 0;
  }

  BuilderSink sink;
  if (!ReadSnapshot(answer->value, sink)) {
    return 0;
  }
  snapshot_address_ = answer->address.toStdString();
  snapshot_ = sink.builder().Finish(snapshot_address_);
  times_.script = std::chrono::duration_cast<std::chrono::microseconds>(received - start);
  times_.build = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - received);
  times_.characters = static_cast<std::size_t>(answer->value.size());
  if (snapshot_ == nullptr) {
    return 0;
  }

  const long count = snapshot_->ElementCount();
  if (count > 0 && static_cast<std::size_t>(count) > max_elements_) {
    snapshot_.reset();
    too_complex_ = true;
    return 0;
  }
  elements_.resize(static_cast<std::size_t>(count > 0 ? count : 0));
  return count;
}

PageElement* LivePageDocument::ElementAt(long index) {
  if (snapshot_ == nullptr || index < 0 || static_cast<std::size_t>(index) >= elements_.size()) {
    return nullptr;
  }
  std::unique_ptr<LiveElement>& slot = elements_[static_cast<std::size_t>(index)];
  if (slot == nullptr) {
    PageElement* element = snapshot_->ElementAt(index);
    if (element == nullptr) {
      return nullptr;
    }
    slot = std::make_unique<LiveElement>(*this, *element, index);
  }
  return slot.get();
}

}  // namespace vexel::app
