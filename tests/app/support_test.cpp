// The gate through which the worker reaches the user-interface thread.
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <thread>
#include <vector>

#include "app/ui_call_gate.h"
#include "tests/app/window_tests.h"

namespace vexel::app::testing {

class SupportTest : public QObject {
  Q_OBJECT

 private:
  // Runs `work` on another thread while this one serves the queued calls.
  template <typename Work>
  static void OnWorker(Work work) {
    std::atomic<bool> done{false};
    std::thread thread([&] {
      work();
      done = true;
    });
    while (!done) {
      QTest::qWait(2);
    }
    thread.join();
  }

 private slots:
  void callsRunOnTheUiThreadInOrder() {
    QObject context;
    UiCallGate gate(&context);
    std::vector<int> order;
    std::vector<bool> on_ui;
    std::vector<bool> results;
    OnWorker([&] {
      for (int i = 0; i < 3; ++i) {
        results.push_back(gate.Run([&, i] {
          order.push_back(i);
          on_ui.push_back(QThread::currentThread() == context.thread());
        }));
        // Each change has taken effect before the worker goes on.
        if (static_cast<int>(order.size()) != i + 1) {
          results.push_back(false);
        }
      }
    });
    QCOMPARE(order, (std::vector<int>{0, 1, 2}));
    QCOMPARE(on_ui, (std::vector<bool>{true, true, true}));
    QCOMPARE(results, (std::vector<bool>{true, true, true}));
  }

  void awaitDeliversALaterAnswer() {
    QObject context;
    UiCallGate gate(&context);
    std::optional<int> answer;
    OnWorker([&] {
      answer = gate.Await<int>([&context](const std::function<void(int)>& done) {
        QTimer::singleShot(30, &context, [done] { done(42); });
      });
    });
    QCOMPARE(answer, std::optional<int>(42));
  }

  void closingReleasesAWaitThatWouldNeverEnd() {
    QObject context;
    UiCallGate gate(&context);
    std::atomic<bool> started{false};
    std::optional<std::optional<int>> answer;
    std::thread worker([&] {
      answer = gate.Await<int>([&started](const std::function<void(int)>&) { started = true; });
    });
    QTRY_VERIFY(started.load());
    QTest::qWait(20);
    QVERIFY(!answer.has_value());
    gate.Close();
    worker.join();
    QCOMPARE(*answer, std::optional<int>());
  }

  void aClosedGateRunsNothing() {
    QObject context;
    UiCallGate gate(&context);
    gate.Close();
    bool ran = false;
    bool result = true;
    OnWorker([&] { result = gate.Run([&] { ran = true; }); });
    QTest::qWait(10);
    QVERIFY(!result);
    QVERIFY(!ran);
  }

  void aCallQueuedBeforeClosingIsDropped() {
    QObject context;
    UiCallGate gate(&context);
    bool ran = false;
    std::atomic<bool> returned{false};
    bool result = true;
    // This thread does not serve the queue until after the close.
    std::thread worker([&] {
      result = gate.Run([&] { ran = true; });
      returned = true;
    });
    while (!returned) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      gate.Close();
    }
    worker.join();
    QTest::qWait(10);  // the queued call comes up now and is skipped
    QVERIFY(!result);
    QVERIFY(!ran);
  }

  void awaitGivesUpAfterItsTimeout() {
    QObject context;
    UiCallGate gate(&context);
    std::optional<int> answer{1};
    OnWorker([&] {
      answer =
          gate.Await<int>([](const std::function<void(int)>&) {}, std::chrono::milliseconds(50));
    });
    QVERIFY(!answer.has_value());
    QVERIFY(!gate.IsClosed());
  }

  void theUiThreadItselfRunsInline() {
    QObject context;
    UiCallGate gate(&context);
    bool ran = false;
    QVERIFY(gate.Run([&] { ran = true; }));
    QVERIFY(ran);
  }
};

int RunSupportTests(int argc, char** argv) {
  SupportTest test;
  return QTest::qExec(&test, argc, argv);
}

}  // namespace vexel::app::testing

#include "support_test.moc"
