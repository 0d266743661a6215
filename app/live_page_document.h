// PageDocument over a live page of the browser engine: the page shown in the
// browser view, or a hidden page of the same profile that a chapter queue
// loads its chapters into.
//
// The queries run on the download worker thread, but the browser engine can
// only be driven from the user-interface thread, and each of its answers is a
// round trip to the page's renderer process. So each evaluation takes one
// snapshot of the page when it asks for the element count, builds an
// in-memory document from it on the worker thread, and reads every property
// from that. Actions (click, select, set) go to the live element with the
// same index, after checking that it still has the same tag.
#pragma once

#include <QString>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "query/page_document.h"

class QWebEnginePage;

namespace vexel::app {

class UiCallGate;

// The page a LivePageDocument reads, and whether it is loading.
class LivePage {
 public:
  virtual ~LivePage() = default;
  // True while the page loads; safe to call from any thread.
  virtual bool PageBusy() const = 0;
  // The engine's page; called on the user-interface thread only.
  virtual QWebEnginePage* EnginePage() = 0;
  // True when the page's last load was the site's browser check (see
  // browser_check.h); safe to call from any thread.
  virtual bool AsksForBrowserCheck() const { return false; }

 protected:
  LivePage() = default;
  LivePage(const LivePage&) = default;
  LivePage& operator=(const LivePage&) = default;
  LivePage(LivePage&&) = default;
  LivePage& operator=(LivePage&&) = default;
};

class LivePageDocument : public PageDocument {
 public:
  // The longest a page script may take before the read counts as failed; a
  // page that is torn down under a script never answers.
  static constexpr std::chrono::seconds kScriptTimeout{30};
  // A page with more elements than the markup parser takes is refused as too
  // complex, whichever engine built it.
  static constexpr std::size_t kMaxElements = 1'000'000;

  // Used from the worker thread only. `page` and `gate` must outlive it. When
  // `give_up` is set (and the gate's waiters woken), a read that is waiting
  // for the page fails at once: a page stuck in a script of its own would
  // otherwise hold a stop request up for the whole script timeout.
  LivePageDocument(LivePage& page, UiCallGate& gate, const std::atomic<bool>* give_up = nullptr,
                   std::size_t max_elements = kMaxElements);
  ~LivePageDocument() override;
  LivePageDocument(const LivePageDocument&) = delete;
  LivePageDocument& operator=(const LivePageDocument&) = delete;
  LivePageDocument(LivePageDocument&&) = delete;
  LivePageDocument& operator=(LivePageDocument&&) = delete;

  bool IsBusy() override;
  // Takes a new snapshot; 0 when none could be taken.
  long ElementCount() override;
  PageElement* ElementAt(long index) override;

  // True when the last snapshot was refused for having more than the
  // document's element limit.
  bool TooComplex() const { return too_complex_; }

  // Timings of the last snapshot, for the benchmark.
  struct SnapshotTimes {
    std::chrono::microseconds script{0};  // script run and transfer to this process
    std::chrono::microseconds build{0};   // building the in-memory document
    std::size_t characters = 0;           // length of the snapshot string
  };
  const SnapshotTimes& LastSnapshotTimes() const { return times_; }

  // The address of the page the last snapshot was taken of (read on the same
  // turn of the user-interface thread as the tree); empty before the first
  // snapshot. The page may have moved on since.
  const std::string& SnapshotAddress() const { return snapshot_address_; }

  // Runs `script` in the page (in the program's own script world) and returns
  // its value as text, or nothing when the page did not answer.
  std::optional<QString> RunScript(const QString& script);

 private:
  class LiveElement;
  struct PageAnswer {
    QString value;    // the script's value as text
    QString address;  // the page's address when the script was started
  };

  // Runs `script` in the page; nothing when the page did not answer in time,
  // the gate closed, or the read was given up.
  std::optional<PageAnswer> RunInPage(const QString& script);

  std::unique_ptr<PageDocument> snapshot_;
  std::vector<std::unique_ptr<LiveElement>> elements_;
  LivePage& page_;
  UiCallGate& gate_;
  const std::atomic<bool>* give_up_;
  SnapshotTimes times_;
  std::string snapshot_address_;
  std::size_t max_elements_;
  bool too_complex_ = false;
};

}  // namespace vexel::app
