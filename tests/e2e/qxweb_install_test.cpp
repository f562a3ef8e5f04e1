// Tests of "qxweb install URL" and "qxweb update NAME" against a real web
// server: nginx, started on free local ports with a configuration of the
// test's own, serving a put-to directory that "qxweb seal" made.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/header_builder.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using qx_test::CommandResult;
using qx_test::ReadFile;
using qx_test::ShellQuote;
using qx_test::WriteFile;

// Writes its arguments one per line and exits with 7.
constexpr const char* kProbe =
    "#!/bin/sh\n"
    "for a in \"$@\"; do echo \"[$a]\"; done > ran.txt\n"
    "exit 7\n";

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

// nginx serving |root| over http, and over https with a certificate made
// for 127.0.0.1. Under /slow/ it sends the same files at 512 kB/s, and
// /moved/Demo.qxw redirects.
class WebServer {
 public:
  WebServer(const std::string& directory, const std::string& root)
      : directory_(directory), root_(root) {
    fs::create_directories(directory_);
    CommandResult made = qx_test::RunCommand(
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
        "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout " +
        ShellQuote(directory_ + "/key.pem") + " -out " + ShellQuote(certificate()) + " 2>&1");
    EXPECT_EQ(made.status, 0) << made.out;
  }
  ~WebServer() { Stop(); }

  bool Start() {
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

  void Stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }

  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  std::string TlsUrl(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(tls_port_) + path;
  }
  std::string certificate() const { return directory_ + "/cert.pem"; }

  // The requests served since the last call: "URI STATUS RANGE" each.
  std::vector<std::string> TakeRequests() {
    std::vector<std::string> requests;
    std::istringstream log(ReadFile(directory_ + "/access.log"));
    log.seekg(static_cast<std::streamoff>(log_read_));
    for (std::string line; std::getline(log, line);) {
      requests.push_back(line);
    }
    log_read_ = ReadFile(directory_ + "/access.log").size();
    return requests;
  }

 private:
  void WriteConfiguration() const {
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

  std::string directory_;
  std::string root_;
  int port_ = 0;
  int tls_port_ = 0;
  pid_t pid_ = -1;
  size_t log_read_ = 0;
};

class QxwebInstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::copy(qx_test::SourceDir() + "/examples/demo/app", src_, fs::copy_options::recursive);
    WriteFile(src_ + "/bin/probe", kProbe);
    WriteFile(src_ + "/data/big.bin", qx_test::RandomBytes(2 << 20, 1));
    CommandResult made = Qxweb(
        "new " + ShellQuote(project_) + " --name Demo --command-line bin/probe" + " --seal-from " +
        ShellQuote(src_) + " --put-to " + ShellQuote(out_) + " --install-to apps/demo");
    ASSERT_EQ(made.status, 0) << made.err;
    Seal();
    ASSERT_TRUE(server_.Start()) << ReadFile(dir_ / "web/error.log");
  }

  CommandResult Qxweb(const std::string& arguments) {
    return qx_test::RunCommand("XDG_CONFIG_HOME=" + ShellQuote(dir_ / "config") +
                               " XDG_DATA_HOME=" + ShellQuote(dir_ / "data") + " " +
                               ShellQuote(qx_test::QxwebPath()) + " " + arguments + " </dev/null");
  }

  void Seal() {
    CommandResult sealed = Qxweb("seal --scan --create-put-to " + ShellQuote(project_));
    ASSERT_EQ(sealed.status, 0) << sealed.err;
  }

  // Every file under the cache root with a hash of its bytes, and the
  // registries.
  std::map<std::string, size_t> CacheContents() const {
    std::map<std::string, size_t> found;
    for (const auto& item : fs::recursive_directory_iterator(dir_ / "data")) {
      found[item.path().string()] = std::hash<std::string>()(
          item.is_regular_file() ? ReadFile(item.path()) : std::string("(dir)"));
    }
    for (const char* registry : {"qxweb.ini", "registry.ini"}) {
      found[registry] = std::hash<std::string>()(ReadFile(dir_ / "config/tarnwick/" + registry));
    }
    return found;
  }

  // The paths the server was asked for since the last look.
  std::vector<std::string> Requested() {
    std::vector<std::string> paths;
    for (const std::string& request : server_.TakeRequests()) {
      paths.push_back(request.substr(0, request.find(' ')));
    }
    return paths;
  }

  qx_test::TempDir dir_;
  const std::string src_ = dir_ / "src";
  const std::string out_ = dir_ / "out";
  const std::string project_ = dir_ / "demo.QXS";
  const std::string package_ = dir_ / "data/tarnwick/cache/apps/demo/Demo";
  WebServer server_{dir_ / "web", out_};
};

TEST_F(QxwebInstallTest, InstallsFromTheLandingPageLaunchesAndUpdatesOnlyWhatChanged) {
  CommandResult install = Qxweb("install " + server_.Url("/Demo.htm") + " --launch -- 'two words'");
  ASSERT_EQ(install.status, 7) << install.err;  // the probe's own status
  EXPECT_NE(install.out.find("apps\\demo\\Demo: installed 10 files"), std::string::npos)
      << install.out;
  EXPECT_EQ(ReadFile(package_ + "/ran.txt"), "[two words]\n");
  EXPECT_EQ(Requested().size(), 12u);  // page, header and every stored file once

  // The launch expanded the cache; an update fetches the changed file and
  // expands it too, and removes what the package no longer lists.
  WriteFile(src_ + "/data/tasks.csv", "changed\n");
  fs::remove(src_ + "/docs/manual.txt");
  Seal();
  CommandResult update = Qxweb("update Demo");
  ASSERT_EQ(update.status, 0) << update.err;
  EXPECT_NE(update.out.find("updated, 1 file fetched"), std::string::npos) << update.out;
  EXPECT_NE(update.out.find("8 kept, 1 removed"), std::string::npos) << update.out;
  EXPECT_EQ(Requested(), (std::vector<std::string>{"/Demo.htm", "/Demo.qxw", "/data/tasks.csv"}));
  EXPECT_EQ(ReadFile(package_ + "/data/tasks.csv"), "changed\n");
  EXPECT_FALSE(fs::exists(package_ + "/docs/manual.txt"));
  EXPECT_NE(Qxweb("cache list").out.find("expanded"), std::string::npos);

  CommandResult again = Qxweb("update apps\\\\demo\\\\Demo");
  EXPECT_NE(again.out.find("already current (9 files)"), std::string::npos) << again.out;
  EXPECT_EQ(Requested(), (std::vector<std::string>{"/Demo.htm", "/Demo.qxw"}));
}

// Each case installs the package, then seals a new version (two changed
// files, one of them 2 MB) and spoils or serves it in its own way. A refused
// install leaves the cache byte for byte as it was.
TEST_F(QxwebInstallTest, DownloadsThatFailLeaveTheCacheAsItWas) {
  struct Case {
    const char* label;
    std::string url;
    std::function<void()> spoil;      // before the install
    std::function<void()> interrupt;  // while it runs
    int status;
    std::string says;
    std::vector<std::string> requested;  // but the 2 MB file; empty: not checked
  };
  const std::string tasks = out_ + "/data/tasks.csv";
  const auto flip_byte = [&] {
    std::string bytes = ReadFile(tasks);
    bytes[bytes.size() / 2] ^= 1;
    WriteFile(tasks, bytes);
  };
  const auto header_listing = [&](std::vector<std::string> names) {
    return [&, names] {
      qx_test::HeaderBuilder header;
      for (const std::string& name : names) {
        header.AddFile({name, 4, 4});
      }
      header.Write(out_ + "/Demo.qxw");
    };
  };
  const auto stop_mid_file = [&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    server_.Stop();
  };
  const auto restart_mid_file = [&] {
    stop_mid_file();
    ASSERT_TRUE(server_.Start());
  };
  const std::vector<Case> cases = {
      {"altered file",
       server_.Url("/Demo.qxw"),
       flip_byte,
       nullptr,
       1,
       "data\\tasks.csv: digest mismatch",
       {"/Demo.qxw", "/data/tasks.csv", "/data/tasks.csv"}},
      {"truncated file",
       server_.Url("/Demo.qxw"),
       [&] { fs::resize_file(tasks, fs::file_size(tasks) - 5); },
       nullptr,
       1,
       "data\\tasks.csv: the server sent",
       {}},
      {"missing file",
       server_.Url("/Demo.qxw"),
       [&] { fs::remove(tasks); },
       nullptr,
       1,
       "data\\tasks.csv: not found on the server (HTTP 404)",
       {}},
      {"unsafe name",
       server_.Url("/Demo.qxw"),
       header_listing({"a", "..\\..\\escape"}),
       nullptr,
       1,
       "..\\..\\escape: unsafe name",
       {"/Demo.qxw"}},
      {"one file listed twice",
       server_.Url("/Demo.qxw"),
       header_listing({"a\\b", "a/b"}),
       nullptr,
       1,
       "a/b: names the same file as another entry",
       {"/Demo.qxw"}},
      {"corrupt header",
       server_.Url("/Demo.qxw"),
       [&] {
         std::string header = ReadFile(out_ + "/Demo.qxw");
         header.replace(header.find("copyright"), 9, "COPYRIGHT");
         WriteFile(out_ + "/Demo.qxw", header);
       },
       nullptr,
       1,
       "the header digest does not match",
       {"/Demo.qxw"}},
      {"redirect",
       server_.Url("/moved/Demo.qxw"),
       nullptr,
       nullptr,
       1,
       "the server redirects it to " + server_.Url("/Demo.qxw"),
       {"/moved/Demo.qxw"}},
      {"no page",
       server_.Url("/Nothing.htm"),
       nullptr,
       nullptr,
       1,
       "not found on the server (HTTP 404)",
       {"/Nothing.htm"}},
      {"server stopped mid-file",
       server_.Url("/slow/Demo.qxw"),
       nullptr,
       stop_mid_file,
       1,
       "data\\big.bin: the transfer broke off after",
       {}},
      {"https, certificate not trusted",
       server_.TlsUrl("/Demo.qxw"),
       nullptr,
       nullptr,
       1,
       "certificate",
       {}},
      {"server restarted mid-file: resumed",
       server_.Url("/slow/Demo.qxw"),
       nullptr,
       restart_mid_file,
       0,
       "updated, 2 files fetched",
       {}},
      {"https with --cacert",
       server_.TlsUrl("/Demo.qxw --cacert " + server_.certificate()),
       nullptr,
       nullptr,
       0,
       "updated, 2 files fetched",
       {}},
  };
  const fs::path first = dir_ / "first";
  fs::copy(out_, first, fs::copy_options::recursive);
  ASSERT_EQ(Qxweb("install " + server_.Url("/Demo.qxw")).status, 0);
  WriteFile(src_ + "/data/tasks.csv", "new tasks\n");
  WriteFile(src_ + "/data/big.bin", qx_test::RandomBytes(2 << 20, 2));
  Seal();
  const fs::path pristine = dir_ / "pristine";
  fs::copy(out_, pristine, fs::copy_options::recursive);
  std::map<std::string, size_t> before = CacheContents();

  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(out_);
    fs::copy(pristine, out_, fs::copy_options::recursive);
    if (c.spoil) {
      c.spoil();
    }
    server_.TakeRequests();
    auto running = std::async(std::launch::async, [&] { return Qxweb("install " + c.url); });
    if (c.interrupt) {
      c.interrupt();
    }
    const CommandResult result = running.get();
    if (!server_.Start()) {
      FAIL() << "the server did not start again";
    }
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_NE((result.out + result.err).find(c.says), std::string::npos)
        << result.out << result.err;
    if (!c.requested.empty()) {
      std::vector<std::string> requested = Requested();
      std::erase(requested, "/data/big.bin");
      std::sort(requested.begin(), requested.end());
      EXPECT_EQ(requested, c.requested);
    }
    if (c.status != 0) {
      EXPECT_EQ(CacheContents(), before);
      continue;
    }
    EXPECT_EQ(ReadFile(package_ + "/Demo.qxw"), ReadFile(pristine / "Demo.qxw"));
    EXPECT_EQ(ReadFile(package_ + "/data/big.bin"), ReadFile(pristine / "data/big.bin"));
    if (c.interrupt) {
      EXPECT_NE(ReadFile(dir_ / "web/access.log").find("/slow/data/big.bin 206 bytes="),
                std::string::npos);
    }
    // The first version again, for the next case.
    fs::remove_all(out_);
    fs::copy(first, out_, fs::copy_options::recursive);
    ASSERT_EQ(Qxweb("cache remove Demo").status, 0);
    ASSERT_EQ(Qxweb("install " + server_.Url("/Demo.qxw")).status, 0);
    before = CacheContents();
  }
}

}  // namespace
