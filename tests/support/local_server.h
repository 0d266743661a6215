// A cpp-httplib server on 127.0.0.1 at a free port, run by a thread of its
// own for the length of a test. Register routes on `server` before Start().
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace vexel::testing {

class LocalServer {
 public:
  LocalServer() = default;
  ~LocalServer() {
    Release();
    if (thread_.joinable()) {
      server.stop();
      thread_.join();
    }
  }
  LocalServer(const LocalServer&) = delete;
  LocalServer& operator=(const LocalServer&) = delete;

  // Binds and starts serving; false when no port could be bound.
  bool Start() {
    port_ = server.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
      return false;
    }
    thread_ = std::thread([this] {
      server.listen_after_bind();
      finished_ = true;
    });
    while (!server.is_running() && !finished_) {
      std::this_thread::yield();
    }
    return true;
  }

  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  // The same server under another host name: libcurl takes "localhost" and
  // every "*.localhost" name to the loopback address without asking a
  // resolver, so one server can play several hosts to curl's cookie engine.
  std::string UrlAt(const std::string& host, const std::string& path) const {
    return "http://" + host + ":" + std::to_string(port_) + path;
  }

  // For handlers that stall: blocks until Release() or `limit` passes.
  void WaitForRelease(std::chrono::seconds limit = std::chrono::seconds(30)) {
    std::unique_lock lock(mutex_);
    released_cv_.wait_for(lock, limit, [this] { return released_; });
  }
  void Release() {
    {
      const std::lock_guard lock(mutex_);
      released_ = true;
    }
    released_cv_.notify_all();
  }

  httplib::Server server;

 private:
  int port_ = -1;
  std::atomic<bool> finished_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable released_cv_;
  bool released_ = false;
};

}  // namespace vexel::testing
