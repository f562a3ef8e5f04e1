// What the installer shows before it asks, and installs the user cancels:
// against nginx serving a package that qxweb sealed.
#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "client/client_cache.h"
#include "client/web_install.h"
#include "tests/support/scoped_env.h"
#include "tests/support/test_support.h"
#include "tests/support/web_server.h"

namespace {

namespace fs = std::filesystem;
using qx_test::ReadFile;
using qx_test::ShellQuote;

class WebPreviewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::copy(qx_test::SourceDir() + "/examples/demo/app", src_, fs::copy_options::recursive);
    qx_test::WriteFile(src_ + "/data/big.bin", qx_test::RandomBytes(3 << 20, 2));
    ASSERT_EQ(Qxweb("new " + ShellQuote(project_) +
                    " --name Demo --command-line bin/planner --owner 'A & B'"
                    " --seal-from " +
                    ShellQuote(src_) + " --put-to " + ShellQuote(out_) + " --install-to apps")
                  .status,
              0);
    ASSERT_EQ(Qxweb("seal --scan --create-put-to " + ShellQuote(project_)).status, 0);
    ASSERT_TRUE(server_.Start());
    std::string error;
    cache_ = qx::ClientCache::Open(nullptr, &error);
    ASSERT_TRUE(cache_) << error;
  }

  qx_test::CommandResult Qxweb(const std::string& arguments) {
    return qx_test::RunCommand(ShellQuote(qx_test::QxwebPath()) + " " + arguments + " </dev/null");
  }

  // Every file under the data directory with its bytes, and the registries.
  std::map<std::string, std::string> State() const {
    std::map<std::string, std::string> found;
    for (const auto& item : fs::recursive_directory_iterator(dir_ / "data")) {
      found[item.path().string()] = item.is_regular_file() ? ReadFile(item.path()) : "(dir)";
    }
    for (const char* registry : {"qxweb.ini", "registry.ini"}) {
      found[registry] = ReadFile(dir_ / "config/tarnwick/" + registry);
    }
    return found;
  }

  qx_test::TempDir dir_;
  qx_test::ScopedEnv config_{"XDG_CONFIG_HOME", (dir_ / "config").c_str()};
  qx_test::ScopedEnv data_{"XDG_DATA_HOME", (dir_ / "data").c_str()};
  const std::string src_ = dir_ / "src";
  const std::string out_ = dir_ / "out";
  const std::string project_ = dir_ / "demo.QXS";
  qx_test::WebServer server_{dir_ / "web", out_};
  std::unique_ptr<qx::ClientCache> cache_;
};

TEST_F(WebPreviewTest, TellsWhatWouldBeInstalledAndFetchesNoStoredFile) {
  const auto before = State();
  const qx::WebPreview preview = qx::PreviewFromWeb(*cache_, server_.Url("/Demo.htm"), {});
  ASSERT_TRUE(preview.problems.empty()) << preview.problems.front();
  EXPECT_EQ(preview.header_url, server_.Url("/Demo.qxw"));
  EXPECT_EQ(preview.name, "apps\\Demo");
  EXPECT_EQ(preview.appl_name, "Demo");
  const std::string header = ReadFile(out_ + "/Demo.qxw");
  const size_t version = header.find("\nVersion: ");
  ASSERT_NE(version, std::string::npos);
  EXPECT_EQ(preview.version,
            header.substr(version + 10, header.find('\r', version + 1) - version - 10));
  EXPECT_EQ(preview.owner, "A & B");
  EXPECT_GT(preview.files, 3);
  EXPECT_GT(preview.download_bytes, int64_t{3} << 20);
  EXPECT_TRUE(preview.key_id.empty());
  EXPECT_NE(preview.signer.find("not signed"), std::string::npos) << preview.signer;
  EXPECT_TRUE(preview.cached_version.empty());
  EXPECT_EQ(server_.TakeRequests().size(), 3u);  // page, header, no signature
  EXPECT_EQ(State(), before);

  // The install takes only the package shown: not one sealed again since.
  qx::WebInstallSettings settings;
  settings.shown = &preview;
  qx_test::WriteFile(src_ + "/data/tasks.csv", "changed\n");
  const qx_test::CommandResult sealed = Qxweb("seal --scan " + ShellQuote(project_));
  ASSERT_EQ(sealed.status, 0) << sealed.err;
  const qx::WebInstallOutcome changed =
      qx::InstallFromWeb(*cache_, server_.Url("/Demo.htm"), settings);
  ASSERT_EQ(changed.problems.size(), 1u);
  EXPECT_NE(changed.problems[0].find("changed on the server since it was shown"),
            std::string::npos);
  EXPECT_EQ(State(), before);

  // Once installed, the cached version is named.
  const qx::WebPreview again = qx::PreviewFromWeb(*cache_, server_.Url("/Demo.htm"), {});
  settings.shown = &again;
  ASSERT_TRUE(qx::InstallFromWeb(*cache_, server_.Url("/Demo.qxw"), settings).problems.empty());
  EXPECT_EQ(qx::PreviewFromWeb(*cache_, server_.Url("/Demo.qxw"), {}).cached_version,
            preview.version);
}

TEST_F(WebPreviewTest, NamesWhatAnInstallWouldRefuse) {
  const qx::WebPreview missing = qx::PreviewFromWeb(*cache_, server_.Url("/Nothing.qxw"), {});
  ASSERT_EQ(missing.problems.size(), 1u);
  EXPECT_NE(missing.problems[0].find("404"), std::string::npos) << missing.problems[0];

  qx::WebInstallSettings settings;
  settings.signer.require_signature = true;
  const qx::WebPreview unsigned_package =
      qx::PreviewFromWeb(*cache_, server_.Url("/Demo.qxw"), settings);
  ASSERT_EQ(unsigned_package.problems.size(), 1u);
  EXPECT_NE(unsigned_package.problems[0].find("a signature is required"), std::string::npos);
  EXPECT_EQ(unsigned_package.appl_name, "Demo");  // still shown to the user
}

TEST_F(WebPreviewTest, ACancelledInstallLeavesTheCacheAsItWas) {
  const auto before = State();
  std::atomic<bool> cancel = false;
  std::atomic<int> reports = 0;
  qx::WebInstallSettings settings;
  settings.fetch.cancelled = [&cancel] { return cancel.load(); };
  settings.callbacks.progress = [&](const qx::FetchProgress& progress) {
    ++reports;
    if (progress.bytes_done > 0) {
      cancel = true;
    }
  };
  // The slow path sends 512 kB a second: the big file is still on its way.
  const qx::WebInstallOutcome outcome =
      qx::InstallFromWeb(*cache_, server_.Url("/slow/Demo.qxw"), settings);
  ASSERT_EQ(outcome.problems.size(), 1u);
  EXPECT_EQ(outcome.problems[0], qx::kFetchCancelled);
  EXPECT_GT(reports.load(), 0);
  EXPECT_EQ(State(), before);

  // Cancelled while the header is asked for.
  cancel = true;
  const qx::WebPreview preview = qx::PreviewFromWeb(*cache_, server_.Url("/Demo.qxw"), settings);
  ASSERT_EQ(preview.problems.size(), 1u);
  EXPECT_NE(preview.problems[0].find(qx::kFetchCancelled), std::string::npos);
}

}  // namespace
