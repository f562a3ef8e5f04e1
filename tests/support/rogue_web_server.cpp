// A web server that answers as each test tells it to. Test support.
#include "tests/support/rogue_web_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "tests/support/test_support.h"

namespace qx_test {

namespace {

constexpr int kPollMilliseconds = 50;

// |text| with its %XX escapes decoded.
std::string PercentDecoded(std::string_view text) {
  std::string decoded;
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '%' && at + 2 < text.size()) {
      decoded += static_cast<char>(std::stoi(std::string(text.substr(at + 1, 2)), nullptr, 16));
      at += 2;
    } else {
      decoded += text[at];
    }
  }
  return decoded;
}

}  // namespace

bool RogueConnection::Send(std::string_view bytes) {
  while (!bytes.empty() && !stopping_) {
    const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) {
      continue;
    }
    if (sent <= 0) {
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return !stopping_;
}

bool RogueConnection::Drip(std::string_view bytes, std::chrono::milliseconds interval) {
  for (size_t at = 0; at < bytes.size(); ++at) {
    if (!Send(bytes.substr(at, 1)) || !Pause(interval)) {
      return false;
    }
  }
  return true;
}

bool RogueConnection::Pause(std::chrono::milliseconds duration) {
  std::unique_lock lock(mutex_);
  return !stopped_.wait_for(lock, duration, [this] { return stopping_.load(); });
}

RogueWebServer::RogueWebServer(RogueHandler handler) : handler_(std::move(handler)) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 64) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    return;  // Url() then names port 0, which nothing answers
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { Accept(); });
}

RogueWebServer::~RogueWebServer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    for (const int fd : connections_) {
      ::shutdown(fd, SHUT_RDWR);
    }
  }
  stopped_.notify_all();
  if (acceptor_.joinable()) {
    acceptor_.join();
  }
  for (std::thread& thread : threads_) {
    thread.join();
  }
  ::close(listener_);
}

std::string RogueWebServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> RogueWebServer::requested() const {
  std::lock_guard lock(mutex_);
  return requested_;
}

std::string RogueWebServer::Answer(int status, std::string_view body, std::string_view headers) {
  return "HTTP/1.1 " + std::to_string(status) +
         " Answer\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
         std::string(headers) + "\r\n" + std::string(body);
}

std::string RogueWebServer::FileAnswer(const std::string& root, const RogueRequest& request) {
  const std::string path = root + PercentDecoded(request.path.substr(0, request.path.find('?')));
  if (!std::filesystem::is_regular_file(path)) {
    return Answer(404, "not here");
  }
  return Answer(200, ReadFile(path));
}

void RogueWebServer::Accept() {
  while (!stopping_) {
    pollfd waiting{listener_, POLLIN, 0};
    if (::poll(&waiting, 1, kPollMilliseconds) <= 0) {
      continue;
    }
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      continue;
    }
    std::lock_guard lock(mutex_);
    if (stopping_) {
      ::close(fd);
      break;
    }
    connections_.insert(fd);
    threads_.emplace_back([this, fd] { Serve(fd); });
  }
}

void RogueWebServer::Serve(int fd) {
  RogueConnection connection(fd, stopping_, mutex_, stopped_);
  std::string received;
  for (bool open = true; open && !stopping_;) {
    const size_t end = received.find("\r\n\r\n");
    if (end == std::string::npos) {
      pollfd waiting{fd, POLLIN, 0};
      if (::poll(&waiting, 1, kPollMilliseconds) <= 0) {
        continue;
      }
      char buffer[4096];
      const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
      open = got > 0;
      received.append(buffer, got > 0 ? static_cast<size_t>(got) : 0);
      continue;
    }
    // "GET /path HTTP/1.1"; requests carry no body.
    const size_t path_start = received.find(' ') + 1;
    RogueRequest request;
    request.path = received.substr(path_start, received.find(' ', path_start) - path_start);
    received.erase(0, end + 4);
    {
      std::lock_guard lock(mutex_);
      requested_.push_back(request.path);
    }
    open = handler_(request, connection);
  }
  std::lock_guard lock(mutex_);
  connections_.erase(fd);
  ::close(fd);
}

}  // namespace qx_test
