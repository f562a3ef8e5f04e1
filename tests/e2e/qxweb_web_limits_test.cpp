// Tests of what bounds "qxweb install" and "qxweb update": the limits that
// end a transfer that would not finish, the places a landing page may lead
// to, and the URLs the cache can give back. Servers that misbehave run in
// this process; nginx serves over http and https.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/rogue_web_server.h"
#include "tests/support/test_support.h"
#include "tests/support/web_server.h"

namespace {

namespace fs = std::filesystem;
using qx_test::CommandResult;
using qx_test::ReadFile;
using qx_test::RogueConnection;
using qx_test::RogueRequest;
using qx_test::RogueWebServer;
using qx_test::ShellQuote;
using qx_test::WriteFile;
using std::chrono::milliseconds;

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A local port whose listener takes no connection: its queue is full, so
// the kernel drops every further attempt's first packet.
class FullListener {
 public:
  FullListener() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 0);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    queued_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::connect(queued_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  ~FullListener() {
    ::close(queued_);
    ::close(listener_);
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  int listener_ = -1;
  int queued_ = -1;
  int port_ = 0;
};

class QxwebWebLimitsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CommandResult made = Qxweb("new " + ShellQuote(project_) +
                               " --name Demo --command-line bin/planner --seal-from " +
                               ShellQuote(qx_test::SourceDir() + "/examples/demo/app") +
                               " --put-to " + ShellQuote(out_) + " --install-to apps/demo");
    ASSERT_EQ(made.status, 0) << made.err;
    CommandResult sealed = Qxweb("seal --scan --create-put-to " + ShellQuote(project_));
    ASSERT_EQ(sealed.status, 0) << sealed.err;
  }

  // qxweb, stopped after two minutes should a limit fail to end it.
  CommandResult Qxweb(const std::string& arguments) {
    return qx_test::RunCommand("XDG_CONFIG_HOME=" + ShellQuote(dir_ / "config") +
                               " XDG_DATA_HOME=" + ShellQuote(dir_ / "data") + " timeout 120 " +
                               ShellQuote(qx_test::QxwebPath()) + " " + arguments + " </dev/null");
  }

  // The paths nginx was asked for since the last look.
  std::vector<std::string> Requested(qx_test::WebServer& server) {
    std::vector<std::string> paths;
    for (const std::string& request : server.TakeRequests()) {
      paths.push_back(request.substr(0, request.find(' ')));
    }
    return paths;
  }

  bool Installed() const { return fs::exists(package_ + "/Demo.qxw"); }

  qx_test::TempDir dir_;
  const std::string out_ = dir_ / "out";
  const std::string project_ = dir_ / "demo.QXS";
  const std::string package_ = dir_ / "data/tarnwick/cache/apps/demo/Demo";
};

// Each case's server answers the requests for paths that end in |misbehaves_on|
// in its own way and serves the package's files otherwise. Each limit ends
// the command with a message that names it, once it has passed and soon
// after; nothing is installed.
TEST_F(QxwebWebLimitsTest, LimitsEndTransfersThatWouldNotFinish) {
  using Answer = std::function<bool(const RogueRequest&, RogueConnection&)>;
  struct Case {
    const char* label;
    std::string path;
    std::vector<std::string> misbehaves_on;
    Answer answer;
    std::string options;
    std::string says;
    int takes_seconds;  // at least; the limit that ends it
  };
  const std::string header = ReadFile(out_ + "/Demo.qxw");
  const std::string page = ReadFile(out_ + "/Demo.htm");
  const auto endless = [](const std::string& head) {
    return [head](const RogueRequest&, RogueConnection& connection) {
      const std::string chunk = "10000\r\n" + std::string(0x10000, 'x') + "\r\n";
      for (bool open = connection.Send(head); open;) {
        open = connection.Send(chunk);
      }
      return false;
    };
  };
  const auto dripped = [this](milliseconds interval) {
    return [this, interval](const RogueRequest& request, RogueConnection& connection) {
      const std::string answer = RogueWebServer::FileAnswer(out_, request);
      const size_t body = answer.find("\r\n\r\n") + 4;
      return connection.Send(answer.substr(0, body)) &&
             connection.Drip(answer.substr(body), interval);
    };
  };
  const auto paused_midway = [this](const RogueRequest& request, RogueConnection& connection) {
    const std::string answer = RogueWebServer::FileAnswer(out_, request);
    const size_t half = answer.find("\r\n\r\n") + 4 + 10;
    return connection.Send(answer.substr(0, half)) && connection.Pause(milliseconds(1500)) &&
           connection.Send(answer.substr(half));
  };
  const auto sends = [](const std::string& bytes) {
    return [bytes](const RogueRequest&, RogueConnection& connection) {
      connection.Send(bytes);
      return false;
    };
  };
  const FullListener full;
  const std::vector<Case> cases = {
      {"a 404 whose body never ends",
       "/Demo.qxw",
       {".qxw"},
       endless("HTTP/1.1 404 Not Found\r\nTransfer-Encoding: chunked\r\n\r\n"),
       "",
       "Demo.qxw: not found on the server (HTTP 404)",
       0},
      {"a redirect whose body never ends",
       "/Demo.htm",
       {".htm"},
       endless("HTTP/1.1 302 Found\r\nLocation: /elsewhere.htm\r\n"
               "Transfer-Encoding: chunked\r\n\r\n"),
       "",
       "/elsewhere.htm (HTTP 302); give that URL instead",
       0},
      {"header lines that never end",
       "/Demo.qxw",
       {".qxw"},
       [](const RogueRequest&, RogueConnection& connection) {
         for (bool open = connection.Send("HTTP/1.1 200 OK\r\n"); open;) {
           open = connection.Send("X-Filler: " + std::string(100, 'x') + "\r\n");
         }
         return false;
       },
       "",
       "Demo.qxw: the answer's header lines run past 65536 bytes",
       0},
      {"an answer that never comes",
       "/Demo.qxw",
       {".qxw"},
       [](const RogueRequest&, RogueConnection& connection) {
         connection.Pause(milliseconds(100000));
         return false;
       },
       "--low-speed-time 2",
       "Demo.qxw: the transfer stayed below 1024 bytes a second for 2 seconds "
       "(--low-speed-limit, --low-speed-time)",
       2},
      {"a header dripped below the low-speed limit",
       "/Demo.htm",
       {".qxw"},
       dripped(milliseconds(50)),
       "--low-speed-time 2",
       "Demo.qxw: the transfer stayed below 1024 bytes a second for 2 seconds",
       2},
      {"a header dripped above the low-speed limit until the deadline",
       "/Demo.qxw",
       {".qxw"},
       dripped(milliseconds(50)),
       "--low-speed-limit 10 --low-speed-time 2 --deadline 3",
       "Demo.qxw: the command's deadline of 3 seconds passed (--deadline)",
       3},
      {"the page and the header share the deadline",
       "/Demo.htm",
       {".htm", ".qxw"},
       paused_midway,
       "--low-speed-limit 1 --deadline 2",
       "Demo.qxw: the command's deadline of 2 seconds passed (--deadline)",
       2},
      {"stored files that come in below the low-speed limit together",
       "/Demo.qxw",
       {"planner", ".dat", ".txt", ".TXT", ".csv", ".ini", ".log", ".bmp"},
       dripped(milliseconds(50)),
       "--low-speed-time 2",
       "qxweb install: the transfers stayed below 1024 bytes a second for 2 seconds with ",
       2},
      {"a server that takes no connection",
       full.Url("/Demo.qxw"),
       {},
       nullptr,
       "--connect-timeout 2",
       "Demo.qxw: no connection within 2 seconds (--connect-timeout)",
       2},
      {"a page cut off in its header lines",
       "/Demo.htm",
       {".htm"},
       sends("HTTP/1.1 200 OK\r\nContent-Le"),
       "",
       "Demo.htm: the answer was cut off in its header lines",
       0},
      {"a page shorter than its Content-Length",
       "/Demo.htm",
       {".htm"},
       sends("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(page.size()) + "\r\n\r\n" +
             page.substr(0, page.find("<embed"))),
       "",
       "Demo.htm: the answer was cut off after " + std::to_string(page.find("<embed")) + " bytes (",
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    RogueWebServer server([&](const RogueRequest& request, RogueConnection& connection) {
      for (const std::string& end : c.misbehaves_on) {
        if (EndsWith(request.path, end)) {
          return c.answer(request, connection);
        }
      }
      return connection.Send(RogueWebServer::FileAnswer(out_, request));
    });
    const std::string url = c.path[0] == '/' ? server.Url(c.path) : c.path;
    const auto start = std::chrono::steady_clock::now();
    const CommandResult result = Qxweb("install " + c.options + " " + url);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.status, 1) << result.out << result.err;
    EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
    EXPECT_GE(took, std::chrono::seconds(c.takes_seconds));
    EXPECT_LT(took, std::chrono::seconds(c.takes_seconds + 15));
    EXPECT_FALSE(Installed());
  }
}

// A landing page leads to a header over https when it came over https, and
// to its own host unless --allow-other-host says otherwise; what it may not
// lead to is never asked for.
TEST_F(QxwebWebLimitsTest, LandingPageLeadsOnlyWhereItMay) {
  qx_test::WebServer server(dir_ / "web", out_);
  ASSERT_TRUE(server.Start()) << ReadFile(dir_ / "web/error.log");
  const std::string http = server.Url("");
  const std::string https = server.TlsUrl("");
  const std::string other = "http://localhost" + http.substr(http.rfind(':'));
  struct Case {
    const char* label;
    std::string url;
    std::string embed;  // the page's src
    std::string options;
    int status;
    std::string says;
    std::vector<std::string> requested;  // empty: the page, the header and every file
  };
  const std::vector<Case> cases = {
      {"an https page, a header over http",
       https + "/Page.htm",
       http + "/Demo.qxw",
       "",
       1,
       https + "/Page.htm names its header as " + http +
           "/Demo.qxw, over plain http; a page fetched over https leads only to a header over "
           "https",
       {"/Page.htm"}},
      {"an https page, a header over http on another host, that host allowed",
       https + "/Page.htm",
       other + "/Demo.qxw",
       "--allow-other-host",
       1,
       "over plain http",
       {"/Page.htm"}},
      {"an https page, a header beside it",
       https + "/Page.htm",
       "Demo.qxw",
       "",
       0,
       "installed",
       {}},
      {"an http page, a header over https on another port",
       http + "/Page.htm",
       https + "/Demo.qxw",
       "",
       0,
       "installed",
       {}},
      {"an http page, a header on another host",
       http + "/Page.htm",
       other + "/Demo.qxw",
       "",
       1,
       http + "/Page.htm names its header as " + other +
           "/Demo.qxw, on another host; give --allow-other-host to fetch it from there",
       {"/Page.htm"}},
      {"an http page, a header on another host, allowed",
       http + "/Page.htm",
       other + "/Demo.qxw",
       "--allow-other-host",
       0,
       "installed",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    WriteFile(out_ + "/Page.htm", "<html><embed src=\"" + c.embed + "\"></html>\n");
    Requested(server);
    const CommandResult result = Qxweb("install --cacert " + ShellQuote(server.certificate()) +
                                       " " + c.options + " " + ShellQuote(c.url));
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_NE((result.out + result.err).find(c.says), std::string::npos)
        << result.out << result.err;
    const std::vector<std::string> requested = Requested(server);
    if (!c.requested.empty()) {
      EXPECT_EQ(requested, c.requested);
    } else {
      EXPECT_EQ(requested.size(), 11u);
    }
    EXPECT_EQ(Installed(), c.status == 0);
    if (Installed()) {
      ASSERT_EQ(Qxweb("cache remove Demo").status, 0);
    }
  }

  // An update reads the page again, under the same rules.
  WriteFile(out_ + "/Page.htm", "<embed src=\"" + other + "/Demo.qxw\">");
  ASSERT_EQ(Qxweb("install --allow-other-host " + http + "/Page.htm").status, 0);
  const CommandResult update = Qxweb("update Demo");
  EXPECT_EQ(update.status, 1);
  EXPECT_NE(update.err.find("on another host; give --allow-other-host"), std::string::npos)
      << update.err;
  const CommandResult allowed = Qxweb("update --allow-other-host Demo");
  EXPECT_NE(allowed.out.find("already current"), std::string::npos) << allowed.err;
}

// The cache keeps a URL of up to 4096 characters for "update"; a longer one
// is refused before anything is asked for, and one that an earlier version
// kept is not taken cut.
TEST_F(QxwebWebLimitsTest, InstallsOnlyFromUrlsTheCacheCanGiveBack) {
  qx_test::WebServer server(dir_ / "web", out_);
  ASSERT_TRUE(server.Start()) << ReadFile(dir_ / "web/error.log");
  std::string longest = server.Url("/Demo.htm?");
  longest += std::string(4096 - longest.size(), 'q');

  const CommandResult too_long = Qxweb("install " + ShellQuote(longest + "q"));
  EXPECT_EQ(too_long.status, 1);
  EXPECT_NE(too_long.err.find("the URL is 4097 characters long; the cache keeps at most 4096 "
                              "for qxweb update"),
            std::string::npos)
      << too_long.err;
  EXPECT_TRUE(Requested(server).empty());

  ASSERT_EQ(Qxweb("install " + ShellQuote(longest)).status, 0);
  Requested(server);
  const CommandResult update = Qxweb("update Demo");
  EXPECT_NE(update.out.find("already current"), std::string::npos) << update.err;
  EXPECT_EQ(Requested(server),
            (std::vector<std::string>{"/Demo.htm", "/Demo.qxw", "/Demo.qxw.sig"}));

  const std::string registry_path = dir_ / "config/tarnwick/qxweb.ini";
  std::string registry = ReadFile(registry_path);
  const size_t kept = registry.find(longest);
  ASSERT_NE(kept, std::string::npos);
  registry.insert(kept + longest.size(), "q");
  WriteFile(registry_path, registry);
  const CommandResult cut = Qxweb("update Demo");
  EXPECT_EQ(cut.status, 1);
  EXPECT_NE(cut.err.find("was installed from a URL longer than the 4096 characters the cache "
                         "keeps; install it again from a shorter one"),
            std::string::npos)
      << cut.err;
  EXPECT_TRUE(Requested(server).empty());
}

}  // namespace
