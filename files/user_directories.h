// The user's standard folders, as the XDG base directory and user-dirs
// conventions name them.
#pragma once

#include <string>

namespace vexel::files {

// The user's home directory: $HOME, else the password database. Empty when
// neither gives an absolute path. No trailing "/".
std::string HomeDirectory();

// The user's download folder, ending in "/": $XDG_DOWNLOAD_DIR when set to an
// absolute path, else XDG_DOWNLOAD_DIR from user-dirs.dirs in
// $XDG_CONFIG_HOME (or ~/.config), else ~/Downloads. Empty without a home.
std::string UserDownloadDirectory();

// The value of XDG_DOWNLOAD_DIR in the text of a user-dirs.dirs file, with
// "$HOME" expanded to `home`; empty when the file does not set it to an
// absolute path. No trailing "/" is added.
std::string ParseUserDirsDownload(const std::string& file_text, const std::string& home);

}  // namespace vexel::files
