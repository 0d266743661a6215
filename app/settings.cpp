#include "app/settings.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <QWidget>
#include <QtGlobal>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "app/app_options.h"

namespace vexel::app {
namespace {

constexpr auto kSkipExistingKey = "download/skipExisting";
constexpr auto kJobsKey = "download/jobs";
constexpr auto kPackCbzKey = "download/packCbz";
constexpr auto kPadPagesKey = "download/padPages";
constexpr auto kSeriesFoldersKey = "download/seriesFolders";
constexpr auto kRequestGapKey = "download/requestGap";
constexpr auto kRateLimitKey = "download/rateLimit";
constexpr auto kFolderKey = "download/folder";
constexpr auto kHomePageKey = "window/homePage";
constexpr auto kGeometryKey = "window/geometry";
constexpr auto kCheckAtStartKey = "library/checkAtStart";
constexpr auto kPauseQueueAtStartKey = "queue/pauseAtStart";

// Named in full rather than by organisation and application: those would
// give the file an ".ini" ending under the INI format, while the desktop's
// convention (and the native format's) is ".conf". The INI format keeps the
// file's syntax the same wherever the program runs.
QString SettingsFilePath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/vexel-downloader/vexel-downloader.conf");
}

QSettings OpenSettings() { return {SettingsFilePath(), QSettings::IniFormat}; }

// QSettings turns any non-empty text but "0" and "false" into true; a value
// someone mistyped should give the default instead.
bool ReadBool(const QVariant& value, bool fallback) {
  if (value.typeId() == QMetaType::Bool) {
    return value.toBool();
  }
  const QString text = value.toString().trimmed().toLower();
  if (text == u"true" || text == u"1") {
    return true;
  }
  if (text == u"false" || text == u"0") {
    return false;
  }
  return fallback;
}

int ReadJobs(const QVariant& value, int fallback) {
  bool ok = false;
  const qlonglong number = value.toString().trimmed().toLongLong(&ok);
  if (!ok) {
    return fallback;
  }
  return static_cast<int>(std::clamp<qlonglong>(number, Settings::kMinJobs, Settings::kMaxJobs));
}

// A text value as written. The file's syntax reads unquoted commas as a
// list; a path typed by hand with a comma in it is still one path.
QString ReadText(const QVariant& value) {
  if (value.typeId() == QMetaType::QStringList) {
    return value.toStringList().join(u", ");
  }
  return value.toString();
}

// Seconds from 0 to a day, as milliseconds.
std::optional<std::chrono::milliseconds> ReadSeconds(const QString& text) {
  bool ok = false;
  const double seconds = text.trimmed().toDouble(&ok);
  if (!ok || !std::isfinite(seconds) || seconds < 0 || seconds > 86400) {
    return std::nullopt;
  }
  return std::chrono::milliseconds(std::llround(seconds * 1000));
}

QString SecondsText(std::chrono::milliseconds time) {
  return QString::number(static_cast<double>(time.count()) / 1000.0, 'g', 10);
}

}  // namespace

Settings Settings::Load() {
  Settings settings;
  QSettings file = OpenSettings();
  if (file.status() != QSettings::NoError) {
    qWarning("vexel-downloader: cannot read the settings file %s; using the defaults",
             qPrintable(file.fileName()));
    return settings;
  }
  settings.skip_existing = ReadBool(file.value(kSkipExistingKey), settings.skip_existing);
  settings.jobs = ReadJobs(file.value(kJobsKey), settings.jobs);
  settings.pack_cbz = ReadBool(file.value(kPackCbzKey), settings.pack_cbz);
  settings.pad_pages = ReadBool(file.value(kPadPagesKey), settings.pad_pages);
  settings.series_folders = ReadBool(file.value(kSeriesFoldersKey), settings.series_folders);
  settings.request_gap =
      ParseRequestGap(ReadText(file.value(kRequestGapKey))).value_or(settings.request_gap);
  settings.rate_limit =
      ParseRateLimit(ReadText(file.value(kRateLimitKey))).value_or(settings.rate_limit);
  settings.download_folder = UsableFolder(ReadText(file.value(kFolderKey)));
  settings.home_page = UsableHomePage(ReadText(file.value(kHomePageKey)));
  settings.check_at_start = ReadBool(file.value(kCheckAtStartKey), settings.check_at_start);
  settings.pause_queue_at_start =
      ReadBool(file.value(kPauseQueueAtStartKey), settings.pause_queue_at_start);
  return settings;
}

bool Settings::Save() const {
  QSettings file = OpenSettings();
  file.setValue(kSkipExistingKey, skip_existing);
  file.setValue(kJobsKey, std::clamp(jobs, kMinJobs, kMaxJobs));
  file.setValue(kPackCbzKey, pack_cbz);
  file.setValue(kPadPagesKey, pad_pages);
  file.setValue(kSeriesFoldersKey, series_folders);
  file.setValue(kRequestGapKey, RequestGapText(request_gap));
  file.setValue(kRateLimitKey, RateLimitText(rate_limit));
  file.setValue(kFolderKey, download_folder);
  file.setValue(kHomePageKey, home_page);
  file.setValue(kCheckAtStartKey, check_at_start);
  file.setValue(kPauseQueueAtStartKey, pause_queue_at_start);
  file.sync();
  // A format error is the old contents' and stays reported after the write
  // that replaced them; only an access error means nothing was written.
  if (file.status() == QSettings::AccessError) {
    qWarning("vexel-downloader: cannot write the settings file %s", qPrintable(file.fileName()));
    return false;
  }
  return true;
}

QString Settings::FilePath() { return SettingsFilePath(); }

void Settings::RestoreWindow(QWidget& window) {
  const QVariant saved = OpenSettings().value(kGeometryKey);
  if (saved.typeId() == QMetaType::QByteArray) {
    // False on bytes that are not a saved geometry: the window keeps its own.
    window.restoreGeometry(saved.toByteArray());
  }
}

void Settings::SaveWindow(const QWidget& window) {
  QSettings file = OpenSettings();
  file.setValue(kGeometryKey, window.saveGeometry());
  file.sync();
  if (file.status() == QSettings::AccessError) {
    qWarning("vexel-downloader: cannot write the settings file %s", qPrintable(file.fileName()));
  }
}

download::JobOptions Settings::ApplyTo(download::JobOptions options) const {
  options.skip_existing = skip_existing;
  options.jobs = std::clamp(jobs, kMinJobs, kMaxJobs);
  options.pack_cbz = pack_cbz;
  options.pad_pages = pad_pages;
  options.series_folders = series_folders;
  return options;
}

net::TransferOptions Settings::ApplyPaceTo(net::TransferOptions options) const {
  // The window's page loads and image fetches share the process's one pacer.
  options.pacer = &net::ProcessPacer();
  options.request_gap = request_gap;
  options.max_receive_bytes_per_second = std::max<std::int64_t>(rate_limit, 0);
  return options;
}

QString Settings::StartPage(const std::string& site_home_url) const {
  if (!site_home_url.empty()) {
    return QString::fromStdString(site_home_url);
  }
  if (!home_page.isEmpty()) {
    return home_page;
  }
  const std::string_view built_in = BuiltInSiteHomeUrl();
  return QString::fromUtf8(built_in.data(), static_cast<qsizetype>(built_in.size()));
}

QString Settings::UsableFolder(const QString& text) {
  QString folder = text.trimmed();
  if (folder == u"~" || folder.startsWith(u"~/")) {
    folder.replace(0, 1, QDir::homePath());
  }
  if (folder.isEmpty() || !QDir::isAbsolutePath(folder)) {
    return {};
  }
  return QDir::cleanPath(folder);
}

QString Settings::UsableHomePage(const QString& text) {
  QString address = text.trimmed();
  const QUrl url(address);
  if (!url.isValid() || (url.scheme() != u"http" && url.scheme() != u"https") ||
      url.host().isEmpty()) {
    return {};
  }
  return address;
}

std::optional<net::PaceGap> Settings::ParseRequestGap(const QString& text) {
  const QString trimmed = text.trimmed();
  if (trimmed.isEmpty()) {
    return net::PaceGap{};
  }
  const qsizetype dash = trimmed.indexOf(u'-');
  const std::optional<std::chrono::milliseconds> low = ReadSeconds(trimmed.left(dash));
  const std::optional<std::chrono::milliseconds> high =
      dash < 0 ? low : ReadSeconds(trimmed.mid(dash + 1));
  if (!low || !high || *high < *low) {
    return std::nullopt;
  }
  return net::PaceGap{*low, *high};
}

QString Settings::RequestGapText(const net::PaceGap& gap) {
  if (gap.none()) {
    return {};
  }
  if (gap.low == gap.high) {
    return SecondsText(gap.low);
  }
  return SecondsText(gap.low) + u'-' + SecondsText(gap.high);
}

std::optional<std::int64_t> Settings::ParseRateLimit(const QString& text) {
  QString number = text.trimmed();
  if (number.isEmpty()) {
    return 0;
  }
  double scale = 1;
  if (number.endsWith(u'k', Qt::CaseInsensitive)) {
    scale = 1024;
  } else if (number.endsWith(u'm', Qt::CaseInsensitive)) {
    scale = 1024.0 * 1024.0;
  }
  if (scale > 1) {
    number.chop(1);
  }
  bool ok = false;
  const double bytes = number.trimmed().toDouble(&ok) * scale;
  if (!ok || !std::isfinite(bytes) || bytes < 1 || bytes > 1e15) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(bytes);
}

QString Settings::RateLimitText(std::int64_t bytes_per_second) {
  constexpr std::int64_t kKiB = 1024;
  if (bytes_per_second <= 0) {
    return {};
  }
  if (bytes_per_second % (kKiB * kKiB) == 0) {
    return QString::number(bytes_per_second / (kKiB * kKiB)) + u'M';
  }
  if (bytes_per_second % kKiB == 0) {
    return QString::number(bytes_per_second / kKiB) + u'k';
  }
  return QString::number(bytes_per_second);
}

}  // namespace vexel::app
