#include "cli/download_arguments.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "download/chapter_list.h"

namespace vexel::cli {

const std::string_view kDownloadUsage =
    "usage: vexel-dl [-o DIR] [-j N] [--retries N] [--overwrite] [--cbz] [--pad-pages]\n"
    "                [--series-folders] [--sleep-request S] [--limit-rate RATE]\n"
    "                [--cookies FILE | --cookies-from-window] CHAPTER-URL...\n"
    "       vexel-dl [options] --all-chapters [--chapters RANGES] COMIC-URL...\n"
    "       vexel-dl [options] -i FILE\n"
    "       vexel-dl chapters COMIC-URL\n"
    "       vexel-dl follow [-o DIR] [--new-only] [--library FILE] COMIC-URL...\n"
    "       vexel-dl unfollow [--library FILE] COMIC-URL...\n"
    "       vexel-dl library [--library FILE]\n"
    "       vexel-dl update [options] [--dry-run] [COMIC-URL...]\n"
    "       vexel-dl query --help\n"
    "\n"
    "Loads each chapter page, stores its page images as 1.ext, 2.ext, ... in a\n"
    "folder named after the chapter, and prints the job's log as the window shows\n"
    "it, then the outcome: 下载完成, 下载已终止 or 下载出错.\n"
    "Several chapters run one after another over the same connections, each\n"
    "after a line 【k/K】ADDRESS (chapter k of K). A page that is no chapter but\n"
    "lists chapters ends 下载出错 with a hint on standard error.\n"
    "\n"
    "  --all-chapters\n"
    "                each address is a comic's page: download every chapter it\n"
    "                lists, in the list's order (vexel-dl chapters COMIC-URL\n"
    "                shows the list)\n"
    "  --chapters RANGES\n"
    "                only the chapters at these positions of each list, counted\n"
    "                from 1: 1-5,8,10- (an open end runs to the last); implies\n"
    "                --all-chapters\n"
    "  -i, --input FILE\n"
    "                the addresses in FILE (- for standard input) too, after\n"
    "                those given as arguments: one a line; blank lines and lines\n"
    "                starting with # are skipped and a line ends at its first\n"
    "                tab, so the output of vexel-dl chapters can be fed in:\n"
    "                vexel-dl chapters URL | vexel-dl -i -\n"
    "                A line over 64 KiB, a control character other than the\n"
    "                tab, or more than 100000 addresses (64 MiB) is a usage\n"
    "                error\n"
    "  -o DIR        put the chapter folders in DIR (created when missing);\n"
    "                default: the current directory\n"
    "  --retries N   try a page up to N more times after a transient failure\n"
    "                (connection lost, timeout, HTTP 408/429/500/502/503/504);\n"
    "                default 3, 0 turns retries off\n"
    "  -j, --jobs N  fetch up to N pages at once (1 to 8, default 1); the log\n"
    "                still lists the pages in order\n"
    "  --overwrite   fetch every page again; by default a page whose file is\n"
    "                already in the chapter folder is kept (已存在)\n"
    "  --cbz         pack each chapter whose pages all arrived into\n"
    "                \"<chapter>.cbz\" with ComicInfo.xml, in place of its folder;\n"
    "                an existing archive counts as the chapter done unless\n"
    "                --overwrite\n"
    "  --pad-pages   name page files with the number zero-padded to the width\n"
    "                of the page count (01.png ... 12.png); a page already\n"
    "                there under the other name is renamed and kept\n"
    "  --series-folders\n"
    "                put chapter folders (and archives) into a folder of their\n"
    "                comic: the chapter line's part before the first \" > \"\n"
    "  --sleep-request SECONDS, --sleep-request A-B\n"
    "                at least SECONDS (or a gap drawn from A to B) between the\n"
    "                starts of any two requests to the site, pages and images,\n"
    "                with -j too; default 0, no pause\n"
    "  --limit-rate RATE\n"
    "                receive at most RATE bytes/s, all transfers together (k:\n"
    "                1024, M: 1024*1024); default no cap\n"
    "  --cookies FILE\n"
    "                send the cookies of FILE (a Netscape cookies.txt) with page\n"
    "                loads and images, only to the hosts they belong to\n"
    "  --cookies-from-window\n"
    "                use the window's cookies and user agent, from\n"
    "                $XDG_DATA_HOME/vexel-downloader (a login or a browser check\n"
    "                passed in the window then serves vexel-dl too)\n"
    "  --library FILE\n"
    "                record finished chapters in FILE instead of the default\n"
    "                library; chapters from a comic's list (--all-chapters) that\n"
    "                it holds, with their files still there, are not loaded\n"
    "                again (已下载，跳过) unless --overwrite\n"
    "  --no-library  neither read nor write a library\n"
    "  --version     print the version\n"
    "  -h, --help    show this text\n"
    "\n"
    "vexel-dl follow adds comics to the library (the file that the window\n"
    "shares, ~/.local/share/vexel-downloader/library.sqlite3), unfollow removes\n"
    "them, library lists them with their chapters downloaded and pending, and\n"
    "update downloads what is new in them; see vexel-dl follow --help and\n"
    "vexel-dl update --help. A library file that cannot be used is named on\n"
    "standard error once, and the download goes on without it.\n"
    "\n"
    "A 429 or 503 with Retry-After pauses the whole chapter (and the next one)\n"
    "until then, shown as 等待 N 秒; five refusals in a row (429, or 403 after\n"
    "pages had arrived) end the job: 网站拒绝访问（HTTP 429），已停止.\n"
    "\n"
    "An address is http://, https:// or file://; any other argument must name an\n"
    "existing file (a saved chapter page).\n"
    "\n"
    "A slow server cannot hold a page for long: an image or a chapter page whose\n"
    "transfer averages under 1 KiB/s over 30 s (headers included), or that runs\n"
    "past 10 minutes, fails as （连接超时）, with -j too.\n"
    "\n"
    "Ctrl-C stops after the page under way; a second Ctrl-C abandons that page\n"
    "at once. On a terminal a status line shows the chapter (k/K, with several),\n"
    "the page, bytes, rate, an estimate of the time left, and 等待重试 while a\n"
    "page waits to be tried again.\n"
    "\n"
    "Exit status (with several chapters: 3 if stopped, else 1 if any chapter\n"
    "had an error, else 4 if any page failed, else 0):\n"
    "  0  every page stored or already present\n"
    "  1  error: a chapter page could not be loaded, or its job ended 下载出错\n"
    "     (with --all-chapters also: a comic page could not be loaded or lists\n"
    "     no chapter to download)\n"
    "  2  usage error: an unknown or bad option, an argument that is neither an\n"
    "     address nor a file, an -i file that is no list of addresses, or a\n"
    "     cookie file that cannot be read\n"
    "  3  stopped by Ctrl-C (later chapters are skipped)\n"
    "  4  complete, but some pages failed (the log names them)\n";

void Complain(const std::string& message) {
  std::fprintf(stderr, "vexel-dl: %s\n", message.c_str());
}

void ComplainAboutUsage(const std::string& message) {
  Complain(message + " (see vexel-dl --help)");
}

namespace {

// A whole number from `low` to `high`; nothing for anything else.
std::optional<int> ParseNumber(std::string_view text, int low, int high) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

// The value of an option given as "--name VALUE", "--name=VALUE" or, for a
// short name, "-n VALUE" and "-nVALUE"; nothing when `arg` is not that
// option. Either name may be empty. A missing value reads as empty.
std::optional<std::string_view> OptionValue(std::span<const std::string_view> args, std::size_t& i,
                                            std::string_view long_name,
                                            std::string_view short_name = {}) {
  const std::string_view arg = args[i];
  const auto next = [&]() { return i + 1 < args.size() ? args[++i] : std::string_view(); };
  if ((!long_name.empty() && arg == long_name) || (!short_name.empty() && arg == short_name)) {
    return next();
  }
  if (!long_name.empty() && arg.starts_with(long_name) && arg.size() > long_name.size() &&
      arg[long_name.size()] == '=') {
    return arg.substr(long_name.size() + 1);
  }
  if (!short_name.empty() && arg.starts_with(short_name) && arg.size() > short_name.size()) {
    return arg.substr(short_name.size());
  }
  return std::nullopt;
}

// A number of seconds, whole or with a fraction, from 0 to a day.
std::optional<std::chrono::milliseconds> ParseSeconds(std::string_view text) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) ||
      value < 0 || value > 86400) {
    return std::nullopt;
  }
  return std::chrono::milliseconds(std::llround(value * 1000));
}

// SECONDS or A-B with A <= B.
std::optional<net::PaceGap> ParseGap(std::string_view text) {
  const std::size_t dash = text.find('-');
  const std::optional<std::chrono::milliseconds> low = ParseSeconds(text.substr(0, dash));
  const std::optional<std::chrono::milliseconds> high =
      dash == std::string_view::npos ? low : ParseSeconds(text.substr(dash + 1));
  if (!low || !high || *high < *low) {
    return std::nullopt;
  }
  return net::PaceGap{*low, *high};
}

// Bytes per second, with k (1024) or M (1024²); more than 0.
std::optional<std::int64_t> ParseRate(std::string_view text) {
  double scale = 1;
  if (text.ends_with('k') || text.ends_with('K')) {
    scale = 1024;
    text.remove_suffix(1);
  } else if (text.ends_with('M') || text.ends_with('m')) {
    scale = 1024.0 * 1024.0;
    text.remove_suffix(1);
  }
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  const double bytes = value * scale;
  if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
      !std::isfinite(bytes) || bytes < 1 || bytes > 1e15) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(bytes);
}

// Complains unless `path` can be opened for reading.
bool Readable(const std::string& path, const std::string& what) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    Complain("cannot read " + what + " " + path + ": it is a folder");
    return false;
  }
  errno = 0;
  const std::ifstream file(path, std::ios::binary);
  if (!file) {
    Complain("cannot read " + what + " " + path + ": " +
             std::strerror(errno != 0 ? errno : ENOENT));
    return false;
  }
  return true;
}

// The window's user agent: the first line of its file, which must be a
// plain line of text.
std::optional<std::string> ReadUserAgent(const std::string& path) {
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  if (!in || !std::getline(in, line)) {
    Complain("cannot read the window's user agent " + path + ": " +
             std::strerror(errno != 0 ? errno : ENOENT));
    return std::nullopt;
  }
  if (!line.empty() && line.back() == '\r') {
    line.pop_back();
  }
  const bool plain = !line.empty() && std::none_of(line.begin(), line.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
  });
  if (!plain) {
    Complain("the window's user agent in " + path + " is no line of text");
    return std::nullopt;
  }
  return line;
}

}  // namespace

std::string WindowDataFolder() {
  const char* data_home = std::getenv("XDG_DATA_HOME");
  if (data_home != nullptr && data_home[0] == '/') {
    return std::string(data_home) + "/vexel-downloader";
  }
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') {
    return std::string(home) + "/.local/share/vexel-downloader";
  }
  return {};
}

void ComplainAboutPage(const std::string& address, const net::LoadedPage& page) {
  Complain(address + ": " + page.error);
  if (page.browser_check) {
    std::fprintf(stderr,
                 "the site asks for a browser check; open %s in the window, then use "
                 "--cookies-from-window\n",
                 address.c_str());
  }
}

std::optional<DownloadArguments> ParseDownloadArguments(std::span<const std::string_view> args,
                                                        bool update) {
  DownloadArguments parsed;
  parsed.transfer.pacer = &net::ProcessPacer();
  bool from_window = false;
  bool options_ended = false;
  const auto fail = [](const std::string& message) {
    ComplainAboutUsage(message);
    return std::nullopt;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    // "-" alone is no option.
    if (options_ended || !arg.starts_with("-") || arg.size() == 1) {
      parsed.addresses.emplace_back(arg);
    } else if (arg == "-h" || arg == "--help") {
      parsed.help = true;
    } else if (arg == "--version") {
      parsed.version = true;
    } else if (const auto directory = OptionValue(args, i, {}, "-o")) {
      if (directory->empty()) {
        return fail("-o needs a directory");
      }
      parsed.output_directory = *directory;
    } else if (const auto file = OptionValue(args, i, "--input", "-i")) {
      if (file->empty()) {
        return fail("-i needs a file of addresses (- for standard input)");
      }
      parsed.address_files.emplace_back(*file);
    } else if (const auto retries = OptionValue(args, i, "--retries")) {
      const std::optional<int> value = ParseNumber(*retries, 0, 100);
      if (!value) {
        return fail("--retries needs a number from 0 to 100");
      }
      parsed.job.retries = *value;
    } else if (const auto jobs = OptionValue(args, i, "--jobs", "-j")) {
      const std::optional<int> value = ParseNumber(*jobs, 1, 8);
      if (!value) {
        return fail("--jobs needs a number from 1 to 8");
      }
      parsed.job.jobs = *value;
    } else if (const auto ranges = OptionValue(args, i, "--chapters")) {
      // Checked against an empty list, which only the form can fail.
      if (!download::ParseChapterRanges(*ranges, 0)) {
        return fail("--chapters needs positions like 1-5,8,10-, not '" + std::string(*ranges) +
                    "'");
      }
      parsed.chapter_ranges = std::string(*ranges);
      parsed.all_chapters = true;
    } else if (arg == "--all-chapters") {
      parsed.all_chapters = true;
    } else if (arg == "--overwrite") {
      parsed.job.skip_existing = false;
    } else if (arg == "--cbz") {
      parsed.job.pack_cbz = true;
    } else if (const auto library = OptionValue(args, i, "--library")) {
      if (library->empty()) {
        return fail("--library needs a file");
      }
      parsed.library_file = std::string(*library);
    } else if (arg == "--no-library") {
      parsed.no_library = true;
    } else if (update && arg == "--dry-run") {
      parsed.dry_run = true;
    } else if (arg == "--pad-pages") {
      parsed.job.pad_pages = true;
    } else if (arg == "--series-folders") {
      parsed.job.series_folders = true;
    } else if (const auto gap = OptionValue(args, i, "--sleep-request")) {
      const std::optional<net::PaceGap> value = ParseGap(*gap);
      if (!value) {
        return fail("--sleep-request needs seconds (0.5, 2) or a range A-B (1-3)");
      }
      parsed.transfer.request_gap = *value;
    } else if (const auto rate = OptionValue(args, i, "--limit-rate")) {
      const std::optional<std::int64_t> value = ParseRate(*rate);
      if (!value) {
        return fail("--limit-rate needs bytes per second, like 500k or 2M");
      }
      parsed.transfer.max_receive_bytes_per_second = *value;
    } else if (const auto cookies = OptionValue(args, i, "--cookies")) {
      if (cookies->empty()) {
        return fail("--cookies needs a cookies.txt file");
      }
      parsed.transfer.cookie_file = *cookies;
    } else if (arg == "--cookies-from-window") {
      from_window = true;
    } else if (arg == "--") {
      options_ended = true;
    } else {
      return fail("unknown option " + std::string(arg));
    }
  }
  if (!update && !parsed.help && !parsed.version && parsed.addresses.empty() &&
      parsed.address_files.empty()) {
    return fail(parsed.all_chapters ? "no comic page address given" : "no chapter address given");
  }
  if (parsed.help || parsed.version) {
    return parsed;
  }
  if (from_window) {
    if (!parsed.transfer.cookie_file.empty()) {
      return fail("--cookies and --cookies-from-window exclude each other");
    }
    const std::string folder = WindowDataFolder();
    if (folder.empty()) {
      Complain("cannot find the window's data folder: neither XDG_DATA_HOME nor HOME is set");
      return std::nullopt;
    }
    parsed.transfer.cookie_file = folder + "/cookies.txt";
    if (!Readable(parsed.transfer.cookie_file, "the window's cookies")) {
      return std::nullopt;
    }
    const std::optional<std::string> agent = ReadUserAgent(folder + "/user-agent");
    if (!agent) {
      return std::nullopt;
    }
    parsed.transfer.user_agent = *agent;
  } else if (!parsed.transfer.cookie_file.empty() &&
             !Readable(parsed.transfer.cookie_file, "the cookie file")) {
    return std::nullopt;
  }
  return parsed;
}

}  // namespace vexel::cli
