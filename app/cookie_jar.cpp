#include "app/cookie_jar.h"

#include <QDateTime>

#include <algorithm>

namespace vexel::app {
namespace {

// A tab would shift the line's fields and a line break would end it early.
bool FitsOnALine(const std::string& text) {
  return std::none_of(text.begin(), text.end(),
                      [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

}  // namespace

CookieJar::Entry CookieJar::FromCookie(const QNetworkCookie& cookie) {
  Entry entry;
  entry.name = cookie.name().toStdString();
  entry.value = cookie.value().toStdString();
  // The engine keeps the domains of international names in their ASCII form,
  // the form libcurl matches hosts in.
  QString domain = cookie.domain().toLower();
  // The engine marks a cookie for a whole domain with a leading dot and a
  // cookie for exactly one host without it.
  entry.host_only = !domain.startsWith(u'.');
  if (!entry.host_only) {
    domain.remove(0, 1);
  }
  entry.domain = domain.toStdString();
  entry.path = cookie.path().isEmpty() ? std::string("/") : cookie.path().toStdString();
  entry.secure = cookie.isSecure();
  entry.http_only = cookie.isHttpOnly();
  if (!cookie.isSessionCookie()) {
    // 0 would read as a session cookie: one that expired by 1970 stays expired.
    entry.expiry = std::max<std::int64_t>(cookie.expirationDate().toSecsSinceEpoch(), 1);
  }
  return entry;
}

// The store names a cookie by these four; a cookie added again with the same
// ones replaces the old one.
bool CookieJar::SameCookie(const Entry& a, const Entry& b) {
  return a.name == b.name && a.domain == b.domain && a.host_only == b.host_only && a.path == b.path;
}

void CookieJar::Add(const QNetworkCookie& cookie) {
  Entry entry = FromCookie(cookie);
  std::lock_guard lock(mutex_);
  auto same = std::find_if(entries_.begin(), entries_.end(),
                           [&](const Entry& e) { return SameCookie(e, entry); });
  if (same != entries_.end()) {
    *same = std::move(entry);  // an update keeps the cookie's place
    return;
  }
  entries_.push_back(std::move(entry));
}

void CookieJar::Remove(const QNetworkCookie& cookie) {
  Entry entry = FromCookie(cookie);
  std::lock_guard lock(mutex_);
  std::erase_if(entries_, [&](const Entry& e) { return SameCookie(e, entry); });
}

std::vector<std::string> CookieJar::CurlCookieLines() const {
  std::vector<std::string> lines;
  std::lock_guard lock(mutex_);
  lines.reserve(entries_.size());
  for (const Entry& entry : entries_) {
    if (entry.domain.empty() || !FitsOnALine(entry.domain) || !FitsOnALine(entry.path) ||
        !FitsOnALine(entry.name) || !FitsOnALine(entry.value)) {
      continue;
    }
    std::string line = entry.http_only ? "#HttpOnly_" : "";
    line += entry.host_only ? "" : ".";
    line += entry.domain;
    line += entry.host_only ? "\tFALSE\t" : "\tTRUE\t";
    line += entry.path;
    line += entry.secure ? "\tTRUE\t" : "\tFALSE\t";
    line += std::to_string(entry.expiry);
    line += '\t';
    line += entry.name;
    line += '\t';
    line += entry.value;
    lines.push_back(std::move(line));
  }
  return lines;
}

std::size_t CookieJar::size() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

}  // namespace vexel::app
