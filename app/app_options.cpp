#include "app/app_options.h"

#ifndef VEXEL_SITE_HOME_URL
#error "VEXEL_SITE_HOME_URL must name the site's home page"
#endif

namespace vexel::app {

std::string_view BuiltInSiteHomeUrl() { return VEXEL_SITE_HOME_URL; }

std::string_view Usage() { return "usage: vexel-downloader [--site URL]\n"; }

ParsedArguments ParseArguments(const std::vector<std::string>& args) {
  ParsedArguments parsed;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      parsed.help = true;
    } else if (arg == "--site") {
      if (i + 1 >= args.size()) {
        parsed.ok = false;
        parsed.error = "--site needs an address";
        return parsed;
      }
      parsed.options.site_home_url = args[++i];
      parsed.options.site_given = true;
    } else if (arg.starts_with("--site=")) {
      parsed.options.site_home_url = arg.substr(7);
      parsed.options.site_given = true;
    } else {
      parsed.ok = false;
      parsed.error = "unknown argument: " + arg;
      return parsed;
    }
  }
  if (parsed.options.site_home_url.empty()) {
    parsed.ok = false;
    parsed.error = "--site needs an address";
  }
  return parsed;
}

}  // namespace vexel::app
