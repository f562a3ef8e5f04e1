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
#include "tests/support/web_server.h"

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
  qx_test::WebServer server_{dir_ / "web", out_};
};

TEST_F(QxwebInstallTest, InstallsFromTheLandingPageLaunchesAndUpdatesOnlyWhatChanged) {
  CommandResult install = Qxweb("install " + server_.Url("/Demo.htm") + " --launch -- 'two words'");
  ASSERT_EQ(install.status, 7) << install.err;  // the probe's own status
  EXPECT_NE(install.out.find("apps\\demo\\Demo: installed 10 files"), std::string::npos)
      << install.out;
  EXPECT_EQ(ReadFile(package_ + "/ran.txt"), "[two words]\n");
  // Page, header, its signature (there is none) and every stored file once.
  EXPECT_EQ(Requested().size(), 13u);

  // The launch expanded the cache; an update fetches the changed file and
  // expands it too, and removes what the package no longer lists.
  WriteFile(src_ + "/data/tasks.csv", "changed\n");
  fs::remove(src_ + "/docs/manual.txt");
  Seal();
  CommandResult update = Qxweb("update Demo");
  ASSERT_EQ(update.status, 0) << update.err;
  EXPECT_NE(update.out.find("updated, 1 file fetched"), std::string::npos) << update.out;
  EXPECT_NE(update.out.find("8 kept, 1 removed"), std::string::npos) << update.out;
  EXPECT_EQ(Requested(), (std::vector<std::string>{"/Demo.htm", "/Demo.qxw", "/Demo.qxw.sig",
                                                   "/data/tasks.csv"}));
  EXPECT_EQ(ReadFile(package_ + "/data/tasks.csv"), "changed\n");
  EXPECT_FALSE(fs::exists(package_ + "/docs/manual.txt"));
  EXPECT_NE(Qxweb("cache list").out.find("expanded"), std::string::npos);

  CommandResult again = Qxweb("update apps\\\\demo\\\\Demo");
  EXPECT_NE(again.out.find("already current (9 files)"), std::string::npos) << again.out;
  EXPECT_EQ(Requested(), (std::vector<std::string>{"/Demo.htm", "/Demo.qxw", "/Demo.qxw.sig"}));
}

// Stored files written by another deflater (zlib's bytes, as packages
// sealed by earlier versions hold) and by the seal as it deflates now
// expand alike: through the launch, unpack, and the update of an expanded
// cache.
TEST_F(QxwebInstallTest, TakesTheLinkAnInstallPageCarries) {
  std::string encoded;
  for (const char c : server_.Url("/Demo.htm")) {
    encoded += c == ':' ? std::string("%3A") : c == '/' ? std::string("%2F") : std::string(1, c);
  }
  CommandResult install = Qxweb("install 'qxweb:?source=" + encoded + "'");
  ASSERT_EQ(install.status, 0) << install.err;
  EXPECT_NE(install.out.find("apps\\demo\\Demo: installed 10 files"), std::string::npos)
      << install.out;
  EXPECT_EQ(Requested().front(), "/Demo.htm");
}

TEST_F(QxwebInstallTest, StoredFilesOfEitherDeflaterExpandAlike) {
  // Every file of |root| by relative path, the package's own files aside.
  const auto tree = [](const std::string& root) {
    std::map<std::string, std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
      const std::string name = fs::relative(item.path(), root).string();
      if (item.is_regular_file() && name.rfind("Demo.", 0) != 0 && name != "ran.txt") {
        files[name] = ReadFile(item.path());
      }
    }
    return files;
  };
  // The package made anew from the tree with the gzip program's members.
  const auto seal_with_gzip = [&] {
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& [name, bytes] : tree(src_)) {
      std::string listed = name;
      std::replace(listed.begin(), listed.end(), '/', '\\');
      files.emplace_back(listed, bytes);
    }
    fs::remove_all(out_);
    qx_test::MakePackage(out_, "Demo", files)
        .Set(qx::HeaderKey::kInstallTo, "apps\\demo")
        .Set(qx::HeaderKey::kCommandLine, "bin/probe")
        .Write(out_ + "/Demo.qxw");
  };
  const struct {
    const char* what;
    std::function<void()> seal;
  } rows[] = {
      {"sealed by qxweb", [&] { Seal(); }},
      {"members written by gzip", seal_with_gzip},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    fs::remove_all(dir_ / "data");
    fs::remove_all(dir_ / "unpacked");
    WriteFile(src_ + "/data/tasks.csv", std::string("first of ") + row.what + "\n");
    row.seal();
    CommandResult install = Qxweb("install " + server_.Url("/Demo.qxw") + " --launch");
    ASSERT_EQ(install.status, 7) << install.err;  // the probe's own status
    EXPECT_EQ(tree(package_), tree(src_));
    CommandResult unpack =
        Qxweb("unpack " + ShellQuote(out_ + "/Demo.qxw") + " " + ShellQuote(dir_ / "unpacked"));
    ASSERT_EQ(unpack.status, 0) << unpack.out << unpack.err;
    EXPECT_EQ(tree(dir_ / "unpacked"), tree(src_));

    WriteFile(src_ + "/data/tasks.csv", std::string("second of ") + row.what + "\n");
    WriteFile(src_ + "/data/big.bin", qx_test::RandomBytes(3 << 20, 9));
    row.seal();
    CommandResult update = Qxweb("update Demo");
    ASSERT_EQ(update.status, 0) << update.out << update.err;
    EXPECT_NE(Qxweb("cache list").out.find("expanded"), std::string::npos);
    EXPECT_EQ(tree(package_), tree(src_));
    server_.TakeRequests();
  }
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
       {"/Demo.qxw", "/Demo.qxw.sig", "/data/tasks.csv", "/data/tasks.csv"}},
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
      {"install link to a local file",
       "'qxweb:?source=file%3A%2F%2F%2Fetc%2Fpasswd'",
       nullptr,
       nullptr,
       1,
       "is no install link: its source is not an http or https URL",
       {}},
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
