// The window's cookies and user agent on disk, for vexel-dl
// --cookies-from-window: $XDG_DATA_HOME/vexel-downloader/cookies.txt (else
// ~/.local/share/vexel-downloader/), a Netscape cookies.txt as libcurl reads
// it, and "user-agent" beside it, both readable by the user alone.
#pragma once

#include <QString>

#include <string>
#include <vector>

namespace vexel::app {

// The folder both files are in.
QString WindowDataFolder();

// Replaces the file at `path` with `contents` as one step: they are written
// to a new file beside it, created with mode 0600, which is then renamed over
// it, so that a reader sees the old file or the new one, never half of one.
// The folder is made (mode 0700) when missing. False when anything failed;
// the old file then stays as it was.
bool WritePrivateFile(const QString& path, const std::string& contents);

// `lines` (CookieJar::CurlCookieLines) as a cookies.txt.
std::string CookieFileText(const std::vector<std::string>& lines);

}  // namespace vexel::app
