// What the window benchmark's parts share: times in milliseconds, medians,
// the printed figures, and an event loop that waits for a condition.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace vexel::bench {

using Clock = std::chrono::steady_clock;

inline double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// One figure: a single value, or the median with the spread of several.
inline void Print(const std::string& label, const std::vector<double>& values, const char* unit,
                  const char* goal = "") {
  // A Chinese character takes three bytes but two columns.
  const int width = 50 + static_cast<int>(std::count_if(label.begin(), label.end(), [](char c) {
                      return static_cast<unsigned char>(c) >= 0xE0;
                    }));
  if (values.size() == 1) {
    std::printf("%-*s %9.1f %s%s\n", width, label.c_str(), values[0], unit, goal);
  } else {
    auto [low, high] = std::minmax_element(values.begin(), values.end());
    std::printf("%-*s %9.1f %s median (min %.1f, max %.1f, n=%zu)%s\n", width, label.c_str(),
                Median(values), unit, *low, *high, values.size(), goal);
  }
  std::fflush(stdout);
}

// Serves events until `done` or `timeout_ms`; a 1 ms timer keeps the loop
// waking up to look. Times are taken where things happen, not here.
inline bool WaitUntil(const std::function<bool()>& done, int timeout_ms = 60000) {
  QTimer tick;
  tick.start(1);
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeout_ms) {
      return false;
    }
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

}  // namespace vexel::bench
