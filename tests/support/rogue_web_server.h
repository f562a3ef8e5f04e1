#pragma once

// A web server that answers as each test tells it to: slowly, never, cut
// off, without end. It runs in the test's own process on a free local port,
// one thread per connection. Test support.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace qx_test {

struct RogueRequest {
  std::string path;  // as the request line gives it, query included
};

// The connection a request came on, for the answer.
class RogueConnection {
 public:
  RogueConnection(int fd, const std::atomic<bool>& stopping, std::mutex& mutex,
                  std::condition_variable& stopped)
      : fd_(fd), stopping_(stopping), mutex_(mutex), stopped_(stopped) {}

  // Sends |bytes|; false once the client has gone or the server stops.
  bool Send(std::string_view bytes);
  // Sends |bytes| one at a time, |interval| apart; false as Send.
  bool Drip(std::string_view bytes, std::chrono::milliseconds interval);
  // Waits |duration|; false when the server stops meanwhile.
  bool Pause(std::chrono::milliseconds duration);

 private:
  int fd_;
  const std::atomic<bool>& stopping_;
  std::mutex& mutex_;
  std::condition_variable& stopped_;
};

// Answers one request; returns whether the connection may carry another.
using RogueHandler = std::function<bool(const RogueRequest&, RogueConnection&)>;

class RogueWebServer {
 public:
  // Listens at once; |handler| answers every request.
  explicit RogueWebServer(RogueHandler handler);
  // Closes every connection and waits for their threads.
  ~RogueWebServer();
  RogueWebServer(const RogueWebServer&) = delete;
  RogueWebServer& operator=(const RogueWebServer&) = delete;

  std::string Url(const std::string& path) const;
  // The paths asked for so far, in the order they came.
  std::vector<std::string> requested() const;

  // A whole answer: the status line, Content-Length and |body|.
  static std::string Answer(int status, std::string_view body, std::string_view headers = "");
  // The file under |root| that |request| names with a 200 answer, or a 404.
  static std::string FileAnswer(const std::string& root, const RogueRequest& request);

 private:
  void Accept();
  void Serve(int fd);

  RogueHandler handler_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::condition_variable stopped_;
  std::set<int> connections_;
  std::vector<std::thread> threads_;
  std::vector<std::string> requested_;
  std::thread acceptor_;
};

}  // namespace qx_test
