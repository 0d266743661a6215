// The window's choices that outlive a run: how download jobs treat pages. They
// live in the user's config folder ($XDG_CONFIG_HOME, normally ~/.config), in
// vexel-downloader/vexel-downloader.conf.
#pragma once

#include <QString>

#include "download/download_job.h"

namespace vexel::app {

struct Settings {
  static constexpr int kMinJobs = 1;
  static constexpr int kMaxJobs = 8;

  // The job's own defaults, so an empty file changes nothing.
  bool skip_existing = download::JobOptions{}.skip_existing;
  int jobs = download::JobOptions{}.jobs;

  // The saved settings. A missing key, or a value that cannot be read, gives
  // that setting's default; a page count outside 1 to 8 is brought inside. A
  // file that cannot be read or parsed gives all the defaults, with one
  // warning.
  static Settings Load();
  // Writes every setting; false (after a warning) when the file could not be
  // written.
  bool Save() const;

  // The file Load reads and Save writes.
  static QString FilePath();

  // `options` with these settings; what they do not cover is left as it is.
  download::JobOptions ApplyTo(download::JobOptions options) const;
};

}  // namespace vexel::app
