// The window's choices that outlive a run: where chapters go, how download
// jobs treat pages, the page the window starts on, and the window's size and
// place. They live in the
// user's config folder ($XDG_CONFIG_HOME, normally ~/.config), in
// vexel-downloader/vexel-downloader.conf.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <string>

#include "download/download_job.h"
#include "net/transfer_options.h"

class QWidget;

namespace vexel::app {

struct Settings {
  static constexpr int kMinJobs = 1;
  static constexpr int kMaxJobs = 8;

  // The job's own defaults, so an empty file changes nothing.
  bool skip_existing = download::JobOptions{}.skip_existing;
  int jobs = download::JobOptions{}.jobs;
  bool pack_cbz = download::JobOptions{}.pack_cbz;
  bool pad_pages = download::JobOptions{}.pad_pages;            // 页码补零
  bool series_folders = download::JobOptions{}.series_folders;  // 按漫画分文件夹
  // 请求间隔: the least time between the starts of two requests to the site
  // (none: no pause), and 限速: bytes per second all transfers together may
  // receive (0: no cap).
  net::PaceGap request_gap;
  std::int64_t rate_limit = 0;
  // Where chapters go: an absolute path; empty for the program's own rule
  // (beside the program, or the user's download folder).
  QString download_folder;
  // The page the window starts on when no --site is given: an http or https
  // address; empty for the built-in home page.
  QString home_page;
  // 启动时检查更新: the window checks the followed comics once as it starts.
  bool check_at_start = false;
  // 启动时暂停队列: the download queue kept from the last run waits for
  // 全部继续 instead of going on at once.
  bool pause_queue_at_start = false;

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

  // The main window's size and place (and whether it was maximized), kept
  // apart from the fields above: the window writes them as it closes, and a
  // settings dialog open at the same time must not write back older ones.
  // Restore leaves `window` as it is when nothing usable was saved; Qt moves
  // a window saved on a screen that is gone onto one that is there.
  static void RestoreWindow(QWidget& window);
  static void SaveWindow(const QWidget& window);

  bool operator==(const Settings&) const = default;

  // `options` with these settings; what they do not cover is left as it is.
  download::JobOptions ApplyTo(download::JobOptions options) const;
  // `options` with the pace and the rate cap, through the process's pacer.
  net::TransferOptions ApplyPaceTo(net::TransferOptions options) const;

  // The page the window starts on: `site_home_url` (--site) when given, else
  // the home page setting, else the built-in home page.
  QString StartPage(const std::string& site_home_url) const;

  // `text` as a download folder setting: trimmed, with a leading "~" for the
  // home folder, and cleaned; empty when it is not an absolute path.
  static QString UsableFolder(const QString& text);
  // `text` as a home page setting: trimmed; empty unless it is a valid http
  // or https address with a host.
  static QString UsableHomePage(const QString& text);
  // 请求间隔 as typed: seconds ("2", "0.5") or a range "A-B" drawn from
  // anew for each request; empty for no pause. Nothing for anything else.
  static std::optional<net::PaceGap> ParseRequestGap(const QString& text);
  static QString RequestGapText(const net::PaceGap& gap);  // empty for none
  // 限速 as typed: bytes per second, with k (1024) or M (1024²); empty for no
  // cap (0). Nothing for anything else.
  static std::optional<std::int64_t> ParseRateLimit(const QString& text);
  static QString RateLimitText(std::int64_t bytes_per_second);  // empty for 0
};

}  // namespace vexel::app
