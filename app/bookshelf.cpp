#include "app/bookshelf.h"

#include <QByteArray>
#include <QMetaObject>
#include <QUrl>

#include <chrono>
#include <functional>
#include <map>
#include <system_error>
#include <utility>

#include "app/hidden_page.h"
#include "app/live_page_document.h"
#include "files/real_file_system.h"
#include "net/resolve_address.h"

namespace vexel::app {
namespace {

// The longest a comic's page may take to load before its check counts as
// failed.
constexpr std::chrono::seconds kComicLoadTimeout{60};

std::string WithoutFragment(const std::string& address) {
  return address.substr(0, address.find('#'));
}

}  // namespace

std::vector<ChapterMarks> MarkChapters(library::Library* library,
                                       const std::vector<download::ChapterLink>& chapters) {
  std::vector<ChapterMarks> marks(chapters.size());
  if (library == nullptr || chapters.empty()) {
    return marks;
  }
  // A followed comic knows more: the moved rule and what is new.
  std::map<std::string, library::ComicChapter> listed;
  for (library::ComicChapter& chapter : library->Chapters(chapters.front().comic)) {
    std::string address = chapter.address;
    listed.emplace(std::move(address), std::move(chapter));
  }
  for (std::size_t i = 0; i < chapters.size(); ++i) {
    const std::string address = WithoutFragment(chapters[i].address);
    const auto found = listed.find(address);
    marks[i].downloaded =
        (found != listed.end() && found->second.downloaded) || library->IsDownloaded(address);
    marks[i].is_new = found != listed.end() && found->second.new_at_last_check;
  }
  return marks;
}

Bookshelf::Bookshelf(const std::optional<std::string>& library_file, QWebEngineProfile* profile,
                     std::size_t max_page_elements, QObject* window)
    : profile_(profile), max_page_elements_(max_page_elements), window_(window), gate_(window) {
  if (library_file && library_file->empty()) {
    return;
  }
  const std::string path = library_file.value_or(library::DefaultLibraryPath());
  if (path.empty()) {
    open_error_ = QStringLiteral("cannot use the library: no home folder");
    return;
  }
  library::OpenedLibrary opened =
      library::Library::Open(path, files::RealFileSystem(), !library_file.has_value());
  library_ = std::move(opened.library);
  if (!library_) {
    open_error_ = QString::fromStdString(opened.error);
  }
}

Bookshelf::~Bookshelf() {
  if (worker_.joinable()) {
    stop_ = true;
    gate_.Close();
    worker_.join();
  }
}

library::StoreResult Bookshelf::Follow(const std::string& address, const std::string& title,
                                       const std::string& folder,
                                       const std::vector<download::ChapterLink>& chapters) {
  if (!library_) {
    library::StoreResult none;
    none.ok = false;
    none.error = open_error_.toStdString();
    return none;
  }
  library::FollowRequest request;
  request.address = WithoutFragment(address);
  request.title = title;
  request.folder = folder;
  request.chapters = chapters;
  return library_->Follow(request);
}

bool Bookshelf::StartCheck() {
  if (checking_ || !library_) {
    return false;
  }
  gap_ = request_gap ? request_gap() : net::PaceGap{};
  library::ComicList list = library_->Comics();
  if (list.comics.empty()) {
    return false;
  }
  checking_ = true;
  try {
    worker_ = std::thread([this, comics = std::move(list.comics)] {
      CheckWorker(comics);
      // Not through the gate: this one must arrive for the thread to be
      // joined. Dropped by Qt when the shelf has gone first.
      QMetaObject::invokeMethod(
          this, [this] { OnCheckDone(); }, Qt::QueuedConnection);
    });
  } catch (const std::system_error&) {
    checking_ = false;
    return false;
  }
  return true;
}

void Bookshelf::OnCheckDone() {
  if (worker_.joinable()) {
    worker_.join();
  }
  checking_ = false;
  emit CheckFinished();
}

void Bookshelf::CheckWorker(const std::vector<library::ComicSummary>& comics) {
  const int count = static_cast<int>(comics.size());
  for (int i = 0; i < count && !stop_; ++i) {
    const library::ComicSummary& comic = comics[static_cast<std::size_t>(i)];
    const QString title = QString::fromStdString(comic.title);
    gate_.Run([this, i, count, title] { emit CheckProgress(i + 1, count, title); });
    const std::optional<std::string> problem = CheckComic(comic.address);
    if (!problem) {
      return;  // stopped: the comic keeps its last check
    }
    library_->SetLastCheck(comic.address, *problem);
    gate_.Run([this] { emit ComicChecked(); });
  }
}

std::optional<std::string> Bookshelf::CheckComic(const std::string& address) {
  // Checks are requests to the site like any other, paced with them.
  if (!net::ProcessPacer().WaitForTurn(gap_, &stop_)) {
    return std::nullopt;
  }
  HiddenPage* page = nullptr;
  if (!gate_.Run([this, &page] {
        page = new HiddenPage(profile_, window_);  // owned by the window
      }) ||
      page == nullptr) {
    return std::nullopt;
  }
  const QUrl url = QUrl::fromEncoded(QByteArray::fromStdString(address));
  const std::optional<bool> loaded = gate_.Await<bool>(
      [page, url](const std::function<void(bool)>& done) { page->Load(url, done); },
      std::chrono::duration_cast<std::chrono::milliseconds>(kComicLoadTimeout), &stop_);
  std::optional<std::string> problem;
  if (loaded.value_or(false)) {
    LivePageDocument document(*page, gate_, &stop_, max_page_elements_);
    const download::AddressResolver& resolver = net::CurlAddressResolver();
    std::vector<download::ChapterLink> listed =
        download::FindChapterList(&document, address, resolver);
    // A page that went elsewhere: its links resolve against where it went.
    if (!document.SnapshotAddress().empty() && document.SnapshotAddress() != address) {
      listed = download::FindChapterList(&document, document.SnapshotAddress(), resolver);
    }
    if (!stop_) {
      if (listed.empty()) {
        problem = "本页没有找到章节列表";
      } else if (const library::StoreResult refreshed = library_->RefreshChapters(address, listed);
                 !refreshed) {
        problem = refreshed.error;
      } else {
        problem = std::string();
      }
    }
  } else if (!stop_) {
    problem = "页面打不开";
  }
  gate_.Run([page] { delete page; });
  return problem;
}

}  // namespace vexel::app
