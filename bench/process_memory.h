// What the program and its browser engine hold in memory, read from /proc:
// the benchmark's own helpers, Linux only.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace vexel::bench {

// The `key` line of /proc/PID/`file` in kB (VmRSS of status, Pss of
// smaps_rollup), 0 when the process is gone.
inline double ProcKb(int pid, const char* file, const std::string& key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(key, 0) == 0) {
      return std::strtod(line.c_str() + key.size(), nullptr);
    }
  }
  return 0;
}

// Every descendant of this process (the engine's zygotes fork the renderers).
inline std::vector<int> Descendants() {
  std::map<int, int> parent_of;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    std::ifstream stat(entry.path() / "stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const auto close = text.rfind(')');  // the command may hold spaces
    if (close == std::string::npos) {
      continue;
    }
    std::istringstream rest(text.substr(close + 2));
    char state = 0;
    int ppid = 0;
    rest >> state >> ppid;
    parent_of[std::stoi(name)] = ppid;
  }
  std::vector<int> found;
  for (const auto& [pid, ppid] : parent_of) {
    for (int up = ppid; up > 1; up = parent_of.contains(up) ? parent_of[up] : 0) {
      if (up == getpid()) {
        found.push_back(pid);
        break;
      }
    }
  }
  return found;
}

}  // namespace vexel::bench
