#include "bench/app_bench_queue.h"

#include <QTimer>
#include <QWebEngineView>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "app/chapter_list_dlg.h"
#include "app/explorer.h"
#include "app/settings.h"
#include "bench/app_bench_support.h"

namespace vexel::bench {
namespace {

constexpr int kSampleEveryMs = 10;
constexpr int kQueueTimeoutMs = 600000;

double Percentile(std::vector<double> values, double share) {
  if (values.empty()) {
    return 0;
  }
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1));
  return values[at];
}

}  // namespace

int MeasureQueueLatency(app::BrowserProfile& profile, const app::DialogOptions& options,
                        const QString& comic, std::string& output, const std::string& home) {
  app::Settings settings = app::Settings::Load();
  settings.jobs = 4;
  if (!settings.Save()) {
    return std::fprintf(stderr, "app_bench: cannot write the settings\n"), 1;
  }
  auto window = std::make_unique<app::CDownloaderDlg>(profile, options);
  window->show();
  std::optional<bool> loaded;
  QObject::connect(window->BrowserView(), &QWebEngineView::loadFinished,
                   [&loaded](bool ok) { loaded = ok; });
  window->BrowserView()->Navigate(comic);
  if (!WaitUntil(
          [&] { return loaded.has_value() && *loaded && !window->BrowserView()->GetBusy(); })) {
    return std::fprintf(stderr, "app_bench: the comic did not load\n"), 1;
  }
  WaitUntil([] { return false; }, 200);
  std::vector<download::ChapterLink> chapters;
  window->OnListChapters();
  app::ChapterListDlg* chooser = nullptr;
  WaitUntil([&] {
    chooser = window->findChild<app::ChapterListDlg*>();
    return chooser != nullptr && chooser->isVisible();
  });
  if (chooser == nullptr) {
    return std::fprintf(stderr, "app_bench: no chapter list\n"), 1;
  }
  chapters = chooser->CheckedChapters();
  chooser->reject();
  output = home + "/latency/";
  std::filesystem::create_directories(output);

  // A zero timer posted every 10 ms: the time until it runs is how long any
  // event (a click, a repaint) would wait.
  std::vector<double> waits;
  QTimer sampler;
  sampler.setInterval(kSampleEveryMs);
  QObject::connect(&sampler, &QTimer::timeout, [&waits] {
    const auto posted = Clock::now();
    QTimer::singleShot(0, [&waits, posted] { waits.push_back(Ms(Clock::now() - posted)); });
  });
  const auto start = Clock::now();
  sampler.start();
  window->EnqueueChapters(chapters, "comic");
  const bool finished = WaitUntil(
      [&] { return window->Queue().Queue().Unfinished() == 0 && !window->Queue().WorkerRunning(); },
      kQueueTimeoutMs);
  sampler.stop();
  const double took = Ms(Clock::now() - start);
  WaitUntil([] { return false; }, 50);  // the last samples come in
  if (!finished) {
    return std::fprintf(stderr, "app_bench: the queue did not finish\n"), 1;
  }
  std::size_t done = 0;
  for (const queue::QueueItem& item : window->Queue().Queue().Items()) {
    done += item.state == queue::ItemState::Done ? 1 : 0;
  }
  std::printf("%-50s %9zu of %zu chapters done in %.0f ms, %zu samples\n", "P11 queue with -j 4",
              done, chapters.size(), took, waits.size());
  Print("P11 event loop latency, median", {Percentile(waits, 0.5)}, "ms");
  Print("P11 event loop latency, p99", {Percentile(waits, 0.99)}, "ms", "  goal < 50 ms");
  Print("P11 event loop latency, worst", {Percentile(waits, 1.0)}, "ms");
  return 0;
}

}  // namespace vexel::bench
