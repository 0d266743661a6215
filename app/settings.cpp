#include "app/settings.h"

#include <QSettings>
#include <QStandardPaths>
#include <QVariant>
#include <QtGlobal>

#include <algorithm>

namespace vexel::app {
namespace {

constexpr auto kSkipExistingKey = "download/skipExisting";
constexpr auto kJobsKey = "download/jobs";

// Named in full rather than by organisation and application: those would
// give the file an ".ini" ending under the INI format, while the desktop's
// convention (and the native format's) is ".conf". The INI format keeps the
// file's syntax the same wherever the program runs.
QString SettingsFilePath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/vexel-downloader/vexel-downloader.conf");
}

QSettings OpenSettings() { return QSettings(SettingsFilePath(), QSettings::IniFormat); }

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
  return settings;
}

bool Settings::Save() const {
  QSettings file = OpenSettings();
  file.setValue(kSkipExistingKey, skip_existing);
  file.setValue(kJobsKey, std::clamp(jobs, kMinJobs, kMaxJobs));
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

download::JobOptions Settings::ApplyTo(download::JobOptions options) const {
  options.skip_existing = skip_existing;
  options.jobs = std::clamp(jobs, kMinJobs, kMaxJobs);
  return options;
}

}  // namespace vexel::app
