// nginx as the tests' web server. Test support.
#include "tests/support/web_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace qx_test {

namespace fs = std::filesystem;

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(fd);
  return ntohs(address.sin_port);
}

bool Accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

WebServer::WebServer(const std::string& directory, const std::string& root)
    : directory_(directory), root_(root) {
  fs::create_directories(directory_);
  CommandResult made = RunCommand(
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
      "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout " +
      ShellQuote(directory_ + "/key.pem") + " -out " + ShellQuote(certificate()) + " 2>&1");
  EXPECT_EQ(made.status, 0) << made.out;
}

bool WebServer::Start() {
  for (int attempt = 0; attempt < 5 && pid_ < 0; ++attempt) {
    if (port_ == 0 || attempt > 0) {
      port_ = FreePort();
      tls_port_ = FreePort();
    }
    WriteConfiguration();
    pid_ = ::fork();
    if (pid_ == 0) {
      const char* nginx = fs::exists("/usr/sbin/nginx") ? "/usr/sbin/nginx" : "nginx";
      ::execlp(nginx, nginx, "-p", directory_.c_str(), "-c", "nginx.conf", "-e", "error.log",
               static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int wait = 0; wait < 200 && !(Accepts(port_) && Accepts(tls_port_)); ++wait) {
      if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;  // the port was taken after all: another one
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
  }
  return pid_ > 0;
}

void WebServer::Stop() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
}

std::string WebServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string WebServer::TlsUrl(const std::string& path) const {
  return "https://127.0.0.1:" + std::to_string(tls_port_) + path;
}

std::vector<std::string> WebServer::TakeRequests() {
  // nginx logs a request once its response is out, which on a busy machine
  // can be after the client has finished: the log is read once it has
  // stopped growing for a moment.
  std::string text = ReadFile(directory_ + "/access.log");
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  for (int still = 0; still < 4 && std::chrono::steady_clock::now() < give_up;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
    std::string again = ReadFile(directory_ + "/access.log");
    still = again.size() == text.size() ? still + 1 : 0;
    text = std::move(again);
  }
  std::vector<std::string> requests;
  std::istringstream log(text.substr(std::min(log_read_, text.size())));
  for (std::string line; std::getline(log, line);) {
    requests.push_back(line);
  }
  log_read_ = text.size();
  return requests;
}

void WebServer::WriteConfiguration() const {
  std::ostringstream conf;
  conf << (::geteuid() == 0 ? "user root;\n" : "") << "daemon off;\nworker_processes 1;\n"
       << "pid nginx.pid;\nerror_log error.log;\nevents { worker_connections 64; }\n"
       << "http {\n  log_format qx '$uri $status $http_range';\n"
       << "  access_log access.log qx;\n";
  for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
    conf << "  " << temp << "_temp_path " << temp << ";\n";
  }
  conf << "  server {\n    listen 127.0.0.1:" << port_ << ";\n    listen 127.0.0.1:" << tls_port_
       << " ssl;\n    ssl_certificate cert.pem;\n    ssl_certificate_key key.pem;\n"
       << "    root " << root_ << ";\n"
       << "    location /slow/ { alias " << root_ << "/; limit_rate 512k; }\n"
       << "    location = /moved/Demo.qxw { return 301 /Demo.qxw; }\n  }\n}\n";
  WriteFile(directory_ + "/nginx.conf", conf.str());
}

}  // namespace qx_test
