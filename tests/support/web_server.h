#pragma once

// nginx as the tests' web server: started without root on free local ports
// with a configuration of the test's own, over http and https.

#include <sys/types.h>

#include <string>
#include <vector>

namespace qx_test {

// A local TCP port nobody listens on now.
int FreePort();

// Whether something accepts connections on the local |port|.
bool Accepts(int port);

// nginx serving |root| over http, and over https with a certificate made
// for 127.0.0.1. Under /slow/ it sends the same files at 512 kB/s, and
// /moved/Demo.qxw redirects.
class WebServer {
 public:
  WebServer(const std::string& directory, const std::string& root);
  ~WebServer() { Stop(); }
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  bool Start();
  void Stop();

  std::string Url(const std::string& path) const;
  std::string TlsUrl(const std::string& path) const;
  std::string certificate() const { return directory_ + "/cert.pem"; }

  // The requests served since the last call: "URI STATUS RANGE" each.
  std::vector<std::string> TakeRequests();

 private:
  void WriteConfiguration() const;

  std::string directory_;
  std::string root_;
  int port_ = 0;
  int tls_port_ = 0;
  pid_t pid_ = -1;
  size_t log_read_ = 0;
};

}  // namespace qx_test
