// PageDocument over the live page: the snapshot lists the live elements, the
// queries read what the page shows, and the action heads act on the page.
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QWebEnginePage>

#include <atomic>
#include <optional>
#include <thread>

#include "app/live_page_document.h"
#include "app/ui_call_gate.h"
#include "query/element_query.h"
#include "tests/app/test_site.h"
#include "tests/app/window_fixture.h"
#include "tests/app/window_tests.h"

namespace vexel::app::testing {
namespace {

// Runs `work` on a thread of its own, as the download worker would, while
// this thread keeps serving the page.
template <typename Work>
auto OnWorker(Work work) {
  std::optional<decltype(work())> result;
  std::atomic<bool> done{false};
  std::thread thread([&] {
    result.emplace(work());
    done = true;
  });
  while (!done) {
    QTest::qWait(5);
  }
  thread.join();
  return std::move(*result);
}

struct Evaluated {
  QueryResult result;
  std::string text;
};

Evaluated Evaluate(PageDocument& document, const std::string& query) {
  return OnWorker([&] {
    Evaluated evaluated{QueryNoMatch, {}};
    evaluated.result = ElementQuery(&document).Evaluate(query, evaluated.text);
    return evaluated;
  });
}

}  // namespace

class LivePageTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TestSite> site_;
  std::unique_ptr<CDownloaderDlg> window_;
  std::unique_ptr<UiCallGate> gate_;
  std::unique_ptr<LivePageDocument> document_;

  CExplorer* View() { return window_->BrowserView(); }

  bool Load(const std::string& path) {
    // The page may already show `address`: only a finished new load counts.
    const QString address = QString::fromStdString(site_->Url(path));
    QSignalSpy finished(View()->page(), &QWebEnginePage::loadFinished);
    View()->Navigate(address);
    return finished.wait(kLoadTimeoutMs) && WaitForPage(View(), address);
  }

 private slots:
  void initTestCase() {
    site_ = std::make_unique<TestSite>();
    QVERIFY(!site_->Base().empty());
    window_ = MakeWindow(site_->Url("home/"), TestHome() + "/out/");
    window_->show();
    gate_ = std::make_unique<UiCallGate>(window_.get());
    document_ = std::make_unique<LivePageDocument>(*View(), *gate_);
  }
  void cleanupTestCase() {
    document_.reset();
    gate_.reset();
    window_.reset();
    site_.reset();
  }
  void init() { QVERIFY(Load("controls.html")); }

  void snapshotListsTheLiveElementsInOrder() {
    const QStringList live =
        RunScript(View(), QStringLiteral("Array.from(document.getElementsByTagName('*'))"
                                         ".map(function (e) { return e.tagName; }).join(',')"))
            .toString()
            .split(u',');
    const QStringList snapshot = OnWorker([&] {
      QStringList tags;
      const long count = document_->ElementCount();
      for (long i = 0; i < count; ++i) {
        PageElement* element = document_->ElementAt(i);
        tags << (element != nullptr
                     ? QString::fromStdString(element->Read(ElementProperty::TagName))
                     : QStringLiteral("?"));
      }
      return tags;
    });
    QCOMPARE(snapshot, live);
    QCOMPARE(document_->SnapshotAddress(), site_->Url("controls.html"));
    QVERIFY(document_->LastSnapshotTimes().characters > 0);
  }

  void queriesReadWhatThePageShows() {
    Evaluated field = Evaluate(*document_, "outerHTML element that id = field");
    QCOMPARE(field.result, QueryMatched);
    QCOMPARE(field.text, std::string("<INPUT id=field value=old>"));

    // Text under display:none is not rendered, so innerText leaves it out.
    Evaluated body = Evaluate(*document_, "innerText element that tagName = BODY");
    QCOMPARE(body.result, QueryMatched);
    QVERIFY2(body.text.find("seen") != std::string::npos, body.text.c_str());
    QVERIFY2(body.text.find("unseen") == std::string::npos, body.text.c_str());
    // A fixed-position element has no offset parent but is shown all the same.
    QVERIFY2(body.text.find("pinned") != std::string::npos, body.text.c_str());

    Evaluated markup = Evaluate(*document_, "innerHTML element that tagName = BODY");
    QVERIFY(markup.text.find("<!-- note -->") != std::string::npos);

    // A change made by the page shows in the next evaluation's snapshot.
    RunScript(View(), QStringLiteral("document.getElementById('shown').id = 'moved'"));
    QCOMPARE(Evaluate(*document_, "innerText element that id = shown").result, QueryNoMatch);
    QCOMPARE(Evaluate(*document_, "innerText element that id = moved").text, std::string("seen"));
  }

  void loneSurrogatesCannotDerailTheSnapshot() {
    // Half an emoji in an attribute and in a text node: the page still reads,
    // each half as a replacement character.
    RunScript(View(), QStringLiteral("var p = document.getElementById('shown');"
                                     "p.setAttribute('title', 'a\\uD83Db');"
                                     "p.appendChild(document.createTextNode('\\uDE00'));"));
    Evaluated shown = Evaluate(*document_, "innerText element that id = shown");
    QCOMPARE(shown.result, QueryMatched);
    QCOMPARE(shown.text, std::string("seen\xEF\xBF\xBD"));
    QCOMPARE(Evaluate(*document_, "title element that id = shown").text, std::string("a\xEF\xBF\xBD"
                                                                                     "b"));
    QCOMPARE(Evaluate(*document_, "innerText element that id = go").text, std::string("go"));
  }

  void clickQueryActsOnTheLivePage() {
    QCOMPARE(Evaluate(*document_, "click element that id = nothing").result, QueryNoMatch);
    QCOMPARE(RunScript(View(), QStringLiteral("document.title")).toString(),
             QStringLiteral("controls"));
    QCOMPARE(Evaluate(*document_, "click element that id = go").result, QueryMatched);
    QTRY_COMPARE(RunScript(View(), QStringLiteral("document.title")).toString(),
                 QStringLiteral("clicked"));
  }

  void selectAndSetQueriesActOnTheLivePage() {
    QCOMPARE(Evaluate(*document_, "select 2 element that id = pick").result, QueryMatched);
    QCOMPARE(
        RunScript(View(), QStringLiteral("document.getElementById('pick').selectedIndex")).toInt(),
        2);
    // An index the list does not have is refused, which still counts as done.
    QCOMPARE(Evaluate(*document_, "select 7 element that id = pick").result, QueryMatched);

    QCOMPARE(Evaluate(*document_, "set element = [ new ] that id = field").result, QueryMatched);
    QCOMPARE(RunScript(View(), QStringLiteral("document.getElementById('field').value")).toString(),
             QStringLiteral(" new "));

    // The wrong kind of element: nothing happens and nothing matched.
    QCOMPARE(Evaluate(*document_, "set element = x that id = area").result, QueryNoMatch);
    QCOMPARE(RunScript(View(), QStringLiteral("document.getElementById('area').value")).toString(),
             QString());
    QCOMPARE(Evaluate(*document_, "select element that id = field").result, QueryNoMatch);
  }

  void actionsCheckThatTheLiveElementIsStillThere() {
    PageElement* button = OnWorker([&]() -> PageElement* {
      const long count = document_->ElementCount();
      for (long i = 0; i < count; ++i) {
        PageElement* element = document_->ElementAt(i);
        if (element != nullptr && element->Read(ElementProperty::Id) == "go") {
          return element;
        }
      }
      return nullptr;
    });
    QVERIFY(button != nullptr);
    // The page inserts an element in front: the index now names another tag.
    RunScript(View(), QStringLiteral("document.body.insertBefore(document.createElement('span'),"
                                     " document.body.firstChild)"));
    QCOMPARE(OnWorker([&] { return button->Click(); }), ActionFailed);
    QTest::qWait(100);
    QCOMPARE(RunScript(View(), QStringLiteral("document.title")).toString(),
             QStringLiteral("controls"));
  }

  void busyWhileAPageLoads() {
    QVERIFY(!document_->IsBusy());
    View()->Navigate(QString::fromStdString(site_->Url("slow.html")));
    QTRY_VERIFY(document_->IsBusy());
    QCOMPARE(Evaluate(*document_, "innerText element that id = go").result, QueryBusy);
    site_->Release();
    QTRY_VERIFY_WITH_TIMEOUT(!document_->IsBusy(), kLoadTimeoutMs);
  }

  void aStopOrAClosingWindowReleasesAWaitingRead_data() {
    QTest::addColumn<bool>("closing");
    QTest::newRow("stop") << false;
    QTest::newRow("closing window") << true;
  }
  void aStopOrAClosingWindowReleasesAWaitingRead() {
    QFETCH(bool, closing);
    // The page is busy in a script for two seconds: the snapshot waits behind
    // it until the stop request or the closing gate releases it.
    View()->page()->runJavaScript(
        QStringLiteral("var t = Date.now(); while (Date.now() - t < 2000) {}"));
    UiCallGate gate(window_.get());
    std::atomic<bool> stop{false};
    LivePageDocument document(*View(), gate, &stop);
    std::atomic<long> count{-1};
    std::thread worker([&] { count = document.ElementCount(); });
    QTest::qWait(200);
    QCOMPARE(count.load(), -1L);
    QElapsedTimer timer;
    timer.start();
    if (closing) {
      gate.Close();
    } else {
      stop = true;
      gate.WakeWaiters();
    }
    while (count.load() == -1) {
      QTest::qWait(5);
    }
    worker.join();
    QCOMPARE(count.load(), 0L);
    QVERIFY(timer.elapsed() < 1500);
    // The next test starts once the page's script has ended: a script run
    // queues behind it.
    RunScript(View(), QStringLiteral("0"));
  }
};

int RunLivePageTests(int argc, char** argv) {
  LivePageTest test;
  return QTest::qExec(&test, argc, argv);
}

}  // namespace vexel::app::testing

#include "live_page_test.moc"
