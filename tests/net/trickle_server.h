// A server on 127.0.0.1 that answers every request with the same bytes, a
// piece at a time with a pause after each, as a slow line or a hostile
// server does: cpp-httplib writes a response's headers in one go, so it
// cannot trickle them. One connection at a time; the pauses end early when
// the server is destroyed.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vexel::testing {

class TrickleServer {
 public:
  struct Piece {
    std::string bytes;
    std::chrono::milliseconds pause{0};
  };

  // `head` whole, then `count` times `unit` with `pause` after each.
  static std::vector<Piece> Trickle(const std::string& head, const std::string& unit, int count,
                                    std::chrono::milliseconds pause) {
    std::vector<Piece> pieces{{head, std::chrono::milliseconds(0)}};
    pieces.insert(pieces.end(), static_cast<std::size_t>(count), Piece{unit, pause});
    return pieces;
  }

  explicit TrickleServer(std::vector<Piece> pieces) : pieces_(std::move(pieces)) {}
  ~TrickleServer() {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    if (listener_ >= 0) {
      ::shutdown(listener_, SHUT_RDWR);  // wakes the accept
    }
    if (thread_.joinable()) {
      thread_.join();
    }
    if (listener_ >= 0) {
      ::close(listener_);
    }
  }
  TrickleServer(const TrickleServer&) = delete;
  TrickleServer& operator=(const TrickleServer&) = delete;
  TrickleServer(TrickleServer&&) = delete;
  TrickleServer& operator=(TrickleServer&&) = delete;

  bool Start() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    auto* generic = reinterpret_cast<sockaddr*>(&address);  // NOLINT(*-reinterpret-cast)
    if (listener_ < 0 || ::bind(listener_, generic, sizeof(address)) != 0 ||
        ::listen(listener_, 4) != 0 || ::getsockname(listener_, generic, &length) != 0) {
      return false;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
    return true;
  }

  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  void Serve() {
    for (;;) {
      const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) {
        return;
      }
      Answer(connection);
      ::close(connection);
      const std::lock_guard lock(mutex_);
      if (stopping_) {
        return;
      }
    }
  }

  void Answer(int connection) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      const ssize_t got = ::recv(connection, buffer, sizeof(buffer), 0);
      if (got <= 0) {
        return;
      }
      request.append(buffer, static_cast<std::size_t>(got));
    }
    for (const Piece& piece : pieces_) {
      if (::send(connection, piece.bytes.data(), piece.bytes.size(), MSG_NOSIGNAL) !=
          static_cast<ssize_t>(piece.bytes.size())) {
        return;  // the client gave up
      }
      std::unique_lock lock(mutex_);
      if (wake_.wait_for(lock, piece.pause, [this] { return stopping_; })) {
        return;
      }
    }
  }

  std::vector<Piece> pieces_;
  int listener_ = -1;
  int port_ = 0;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace vexel::testing
