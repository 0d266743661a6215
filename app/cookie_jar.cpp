#include "app/cookie_jar.h"

#include <QDateTime>
#include <QUrl>

#include <algorithm>

namespace vexel::app {
namespace {

// Path match of RFC 6265 section 5.1.4.
bool PathMatches(const std::string& request_path, const std::string& cookie_path) {
  if (request_path == cookie_path) {
    return true;
  }
  if (request_path.compare(0, cookie_path.size(), cookie_path) != 0) {
    return false;
  }
  return cookie_path.ends_with('/') || request_path[cookie_path.size()] == '/';
}

bool DomainMatches(const std::string& host, const std::string& domain, bool host_only) {
  if (host == domain) {
    return true;
  }
  if (host_only || host.size() <= domain.size()) {
    return false;
  }
  return host.ends_with(domain) && host[host.size() - domain.size() - 1] == '.';
}

}  // namespace

CookieJar::Entry CookieJar::FromCookie(const QNetworkCookie& cookie) {
  Entry entry;
  entry.name = cookie.name().toStdString();
  entry.value = cookie.value().toStdString();
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
  if (!cookie.isSessionCookie()) {
    entry.expires = true;
    entry.expiry =
        Clock::time_point(std::chrono::milliseconds(cookie.expirationDate().toMSecsSinceEpoch()));
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
    entry.order = same->order;  // an update keeps the cookie's place
    *same = std::move(entry);
    return;
  }
  entry.order = next_order_++;
  entries_.push_back(std::move(entry));
}

void CookieJar::Remove(const QNetworkCookie& cookie) {
  Entry entry = FromCookie(cookie);
  std::lock_guard lock(mutex_);
  std::erase_if(entries_, [&](const Entry& e) { return SameCookie(e, entry); });
}

std::string CookieJar::CookiesFor(const std::string& address, Clock::time_point now) const {
  const QUrl url(QString::fromStdString(address));
  const QString scheme = url.scheme().toLower();
  if (!url.isValid() || (scheme != u"http" && scheme != u"https")) {
    return {};
  }
  // The engine keeps the domains of international names in their ASCII form.
  const std::string host = url.host(QUrl::EncodeUnicode).toLower().toStdString();
  QString request_path = url.path(QUrl::FullyEncoded);
  if (request_path.isEmpty()) {
    request_path = QStringLiteral("/");
  }
  const std::string path = request_path.toStdString();
  const bool secure_request = scheme == u"https";

  std::vector<const Entry*> chosen;
  std::lock_guard lock(mutex_);
  for (const Entry& entry : entries_) {
    if (entry.expires && entry.expiry <= now) {
      continue;
    }
    if (entry.secure && !secure_request) {
      continue;
    }
    if (!DomainMatches(host, entry.domain, entry.host_only)) {
      continue;
    }
    if (!PathMatches(path, entry.path)) {
      continue;
    }
    chosen.push_back(&entry);
  }
  std::stable_sort(chosen.begin(), chosen.end(), [](const Entry* a, const Entry* b) {
    if (a->path.size() != b->path.size()) {
      return a->path.size() > b->path.size();
    }
    return a->order < b->order;
  });
  std::string header;
  for (const Entry* entry : chosen) {
    if (!header.empty()) {
      header += "; ";
    }
    header += entry->name;
    header += '=';
    header += entry->value;
  }
  return header;
}

std::size_t CookieJar::size() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

}  // namespace vexel::app
