// Packing a 300-page chapter of 100 KB pages into a CBZ, as vexel-dl --cbz
// does after the last page: prints the median time of RUNS (default 5) packs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "download/comic_info.h"
#include "files/cbz_packer.h"
#include "files/real_file_system.h"
#include "tests/support/file_temp_dir.h"

int main() {
  using Clock = std::chrono::steady_clock;
  const char* runs_text = std::getenv("RUNS");
  const int runs = runs_text != nullptr ? std::max(1, std::atoi(runs_text)) : 5;
  constexpr int kPages = 300;
  constexpr std::size_t kPageBytes = 100000;
  std::vector<double> seconds;
  for (int run = 0; run < runs; ++run) {
    const vexel::testing::TempDir out;
    vexel::download::PackRequest request;
    request.folder = out / "chapter/";
    request.archive = out / "chapter.cbz";
    std::filesystem::create_directory(request.folder);
    request.comic_info = vexel::download::ComicInfoXml(
        vexel::download::ComicInfoFor("Bench > 第1话", kPages, "http://127.0.0.1/"));
    std::string bytes(kPageBytes, '\0');
    for (int page = 1; page <= kPages; ++page) {
      for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>((i * 31 + static_cast<std::size_t>(page)) & 0xFF);
      }
      const std::string file = request.folder + std::to_string(page) + ".png";
      vexel::testing::WriteWholeFile(file, bytes);
      char entry[16];
      std::snprintf(entry, sizeof entry, "%03d.png", page);
      request.pages.push_back({file, entry});
    }
    vexel::files::CbzPacker packer(vexel::files::RealFileSystem());
    const Clock::time_point start = Clock::now();
    const bool ok = packer.Pack(request).ok;
    seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    if (!ok) {
      std::fprintf(stderr, "cbz_bench: packing failed\n");
      return 1;
    }
  }
  std::sort(seconds.begin(), seconds.end());
  std::printf(
      "packing %d x %zu KB into a CBZ (written, read back, folder removed): %.3f s median of %d\n",
      kPages, kPageBytes / 1000, seconds[seconds.size() / 2], runs);
  return 0;
}
