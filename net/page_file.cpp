#include "net/page_file.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <random>
#include <utility>

namespace vexel::net {
namespace {

constexpr std::string_view kPrefix = ".vexel-";
constexpr std::string_view kSuffix = ".part";
constexpr std::size_t kRandomLength = 6;
constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
// Linux's largest process id; a larger number in a name is not ours.
constexpr long kMaxProcessId = 4194304;

bool IsAlphanumeric(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

std::string RandomPart() {
  thread_local std::mt19937 generator{std::random_device{}()};
  std::uniform_int_distribution<std::size_t> pick(0, kAlphabet.size() - 1);
  std::string part(kRandomLength, 'X');
  for (char& c : part) {
    c = kAlphabet[pick(generator)];
  }
  return part;
}

}  // namespace

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

PageFile::~PageFile() { Discard(); }

PageFile::PageFile(PageFile&& other) noexcept
    : file_system_(other.file_system_),
      name_(std::move(other.name_)),
      target_(std::move(other.target_)),
      fd_(std::exchange(other.fd_, -1)),
      error_(other.error_) {
  other.name_.clear();
}

PageFile& PageFile::operator=(PageFile&& other) noexcept {
  if (this != &other) {
    Discard();
    file_system_ = other.file_system_;
    name_ = std::move(other.name_);
    other.name_.clear();
    target_ = std::move(other.target_);
    fd_ = std::exchange(other.fd_, -1);
    error_ = other.error_;
  }
  return *this;
}

int PageFile::Create(download::FileSystem& file_system, const std::string& target) {
  Discard();
  file_system_ = &file_system;
  target_ = target;
  error_ = 0;
  const std::string stem =
      FolderOf(target) + std::string(kPrefix) + std::to_string(::getpid()) + "-";
  // As mkstemps does: another name while the one drawn is taken.
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = stem + RandomPart() + std::string(kSuffix);
    const download::OpenedFile opened = file_system.CreateNewFile(name);
    if (opened) {
      fd_ = opened.fd;
      name_ = std::move(name);
      return 0;
    }
    if (opened.error != EEXIST) {
      return opened.error;
    }
  }
  return EEXIST;
}

bool PageFile::Write(std::string_view data) {
  if (error_ != 0) {
    return false;
  }
  if (fd_ < 0) {
    error_ = EBADF;
    return false;
  }
  error_ = file_system_->WriteFile(fd_, data).error;
  return error_ == 0;
}

int PageFile::Commit() {
  int error = error_ != 0 ? error_ : (fd_ < 0 ? EBADF : 0);
  if (fd_ >= 0) {
    const download::FileResult closed = file_system_->CloseFile(std::exchange(fd_, -1));
    if (error == 0) {
      error = closed.error;
    }
  }
  if (error == 0) {
    errno = 0;
    if (file_system_->Rename(name_, target_)) {
      name_.clear();
      return 0;
    }
    error = errno != 0 ? errno : EIO;
  }
  Discard();
  error_ = error;
  return error;
}

void PageFile::Discard() {
  if (fd_ >= 0) {
    file_system_->CloseFile(std::exchange(fd_, -1));
  }
  if (!name_.empty()) {
    file_system_->Remove(name_);
    name_.clear();
  }
}

std::optional<files::LeftoverOwner> PageFileOwner(std::string_view name) {
  if (!name.starts_with(kPrefix) || !name.ends_with(kSuffix)) {
    return std::nullopt;
  }
  name.remove_prefix(kPrefix.size());
  name.remove_suffix(kSuffix.size());
  // "<pid>-XXXXXX": a decimal id without a leading zero, a dash, six.
  if (name.size() < kRandomLength + 2 || name[name.size() - kRandomLength - 1] != '-') {
    return std::nullopt;
  }
  const std::string_view random = name.substr(name.size() - kRandomLength);
  const std::string_view digits = name.substr(0, name.size() - kRandomLength - 1);
  for (const char c : random) {
    if (!IsAlphanumeric(c)) {
      return std::nullopt;
    }
  }
  long pid = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), pid);
  if (error != std::errc() || end != digits.data() + digits.size() || digits.front() == '0' ||
      pid <= 0 || pid > kMaxProcessId) {
    return std::nullopt;
  }
  return files::LeftoverOwner{pid, {}};
}

}  // namespace vexel::net
