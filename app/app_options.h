// The window program's command line.
//
//   vexel-downloader [--site URL]
//
// --site replaces the home page of the site for the whole run: the address
// box, the first page, and the prefix that new-window requests are compared
// with. Without it the home page is the one the settings name (主页), else the
// built-in one.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vexel::app {

// The site's home page as configured when the program was built.
std::string_view BuiltInSiteHomeUrl();

struct AppOptions {
  std::string site_home_url{BuiltInSiteHomeUrl()};
  // True when --site named the home page; otherwise the window's settings
  // may name another one.
  bool site_given = false;
};

struct ParsedArguments {
  bool ok = true;
  bool help = false;  // --help: print the usage and end
  std::string error;  // when !ok
  AppOptions options;
};

// `args` without the program's own name.
ParsedArguments ParseArguments(const std::vector<std::string>& args);

// One line of usage, ending in "\n".
std::string_view Usage();

}  // namespace vexel::app
