// P11 of the window benchmark: how long the window's events wait while its
// background queue runs 12 chapters with 4 pages at once.
#pragma once

#include <QString>

#include <string>

#include "app/browser_profile.h"
#include "app/downloader_dlg.h"

namespace vexel::bench {

// Opens a window with `options` (and 同时下载 4), queues the chapters that
// `comic` lists into folders under `home`, and prints the latency of a zero
// timer sampled every 10 ms until the queue has finished: its median, p99
// and worst. `output` is the folder `options` stores chapters in. Non-zero
// when the queue could not be run.
int MeasureQueueLatency(app::BrowserProfile& profile, const app::DialogOptions& options,
                        const QString& comic, std::string& output, const std::string& home);

}  // namespace vexel::bench
