// Tests of the command-line tool: whole-program runs of "qxweb new", "scan"
// and "seal" on the sample application, checked with "qxweb verify" and gzip.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "core/compress/compressor.h"
#include "core/signature/package_signature.h"
#include "core/signature/sha256.h"
#include "core/signature/signing_key.h"
#include "sealer/project/seal_staging.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using qx_test::CommandResult;
using qx_test::ReadFile;
using qx_test::ShellQuote;

const std::vector<std::string> kSampleFiles = {
    "README.TXT",           "bin/planner",      "bin/planner.dat", "data/empty.log",
    "data/maps/office.bmp", "data/planner.ini", "data/tasks.csv",  "docs/manual.txt"};

class QxwebSealTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::copy(qx_test::SourceDir() + "/examples/demo/app", src_, fs::copy_options::recursive);
    fs::create_directories(config_);
  }

  // Runs qxweb with its settings in the test's own configuration directory.
  CommandResult Qxweb(const std::string& arguments) {
    return qx_test::RunCommand("XDG_CONFIG_HOME=" + ShellQuote(config_) + " " +
                               ShellQuote(qx_test::QxwebPath()) + " " + arguments);
  }

  CommandResult New(const std::string& extra = "", const std::string& name = "Demo",
                    const std::string& install_to = "apps/demo") {
    return Qxweb("new " + ShellQuote(project_) + " --name " + ShellQuote(name) +
                 " --command-line 'bin/planner -q' --seal-from " + ShellQuote(src_) + " --put-to " +
                 ShellQuote(out_) + " --owner 'Demo Works' --install-to " + ShellQuote(install_to) +
                 " " + extra);
  }

  std::string Header() const { return out_ + "/Demo.qxw"; }

  // Every file under |root| and its bytes.
  static std::map<std::string, std::string> Tree(const std::string& root) {
    std::map<std::string, std::string> files;
    if (!fs::exists(root)) {
      return files;
    }
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      if (entry.is_regular_file()) {
        files[fs::relative(entry.path(), root).string()] = ReadFile(entry.path().string());
      }
    }
    return files;
  }

  qx_test::TempDir dir_;
  const std::string src_ = dir_ / "src";
  const std::string out_ = dir_ / "out";
  const std::string config_ = dir_ / "config";
  const std::string project_ = dir_ / "demo.QXS";
};

TEST_F(QxwebSealTest, SealedSampleVerifiesAndExpandsToItsSources) {
  CommandResult made = New();
  ASSERT_EQ(made.status, 0) << made.err;
  CommandResult scan = Qxweb("scan " + ShellQuote(project_));
  ASSERT_EQ(scan.status, 0) << scan.err;
  EXPECT_NE(scan.out.find("8 files in 4 directories"), std::string::npos) << scan.out;

  CommandResult seal = Qxweb("seal --create-put-to --save " + ShellQuote(project_));
  ASSERT_EQ(seal.status, 0) << seal.err;
  EXPECT_NE(seal.err.find("Tarnwick Web Sealer: The Demo package seal is complete."),
            std::string::npos)
      << seal.err;
  EXPECT_NE(seal.out.find(Header()), std::string::npos);
  EXPECT_TRUE(qx_test::FileExists(out_ + "/Demo.htm"));

  CommandResult verify = Qxweb("verify " + ShellQuote(Header()));
  EXPECT_EQ(verify.status, 0) << verify.out;
  EXPECT_NE(verify.out.find("verified, 8 stored files"), std::string::npos) << verify.out;

  for (const std::string& name : kSampleFiles) {
    CommandResult expanded = qx_test::RunCommand("gzip -dc " + ShellQuote(out_ + "/" + name));
    ASSERT_EQ(expanded.status, 0) << name << ": " << expanded.err;
    EXPECT_EQ(expanded.out, ReadFile(src_ + "/" + name)) << name;
  }

  // The saved project keeps the list, in the order the scan made it.
  const std::string project = ReadFile(project_);
  EXPECT_NE(project.find("*** End Of Header ***\r\nFile: README.TXT;\r\nFile: bin\\planner;\r\n"
                         "File: bin\\planner.dat;\r\nFile: data\\empty.log;\r\n"
                         "File: data\\maps\\office.bmp;\r\nFile: data\\planner.ini;\r\n"
                         "File: data\\tasks.csv;\r\nFile: docs\\manual.txt;\r\n"),
            std::string::npos)
      << project;
}

TEST_F(QxwebSealTest, HeaderEditsBreakTheDigestExceptCommandLine) {
  ASSERT_EQ(New().status, 0);
  ASSERT_EQ(Qxweb("seal --scan --create-put-to " + ShellQuote(project_)).status, 0);
  const std::string original = ReadFile(Header());

  std::string changed = original;
  const size_t owner = changed.find("Owner: Demo Works");
  ASSERT_NE(owner, std::string::npos);
  changed[owner + 7] = 'd';
  qx_test::WriteFile(Header(), changed);
  CommandResult verify = Qxweb("verify " + ShellQuote(Header()));
  EXPECT_EQ(verify.status, 1);
  EXPECT_NE(verify.out.find("corrupt"), std::string::npos) << verify.out;

  changed = original;
  const size_t command = changed.find("CommandLine: bin/planner -q");
  ASSERT_NE(command, std::string::npos);
  changed.replace(command, 27, "CommandLine: bin/planner --verbose");
  qx_test::WriteFile(Header(), changed);
  verify = Qxweb("verify " + ShellQuote(Header()));
  EXPECT_EQ(verify.status, 0) << verify.out;
}

TEST_F(QxwebSealTest, MissingPutToIsCreatedOnlyWhenAsked) {
  ASSERT_EQ(New().status, 0);
  CommandResult seal = Qxweb("seal --scan " + ShellQuote(project_));
  EXPECT_EQ(seal.status, 1);
  EXPECT_NE(seal.err.find("Directory " + out_ + " does not exist, create it? [Cancel]"),
            std::string::npos)
      << seal.err;
  EXPECT_FALSE(fs::exists(out_));
}

TEST_F(QxwebSealTest, FailedSealKeepsTheEarlierHeader) {
  ASSERT_EQ(New().status, 0);
  ASSERT_EQ(Qxweb("seal --scan --create-put-to --save " + ShellQuote(project_)).status, 0);
  const std::string header = ReadFile(Header());
  // A hand-edited list line without a key.
  qx_test::WriteFile(project_, ReadFile(project_) + "garbage\r\n");
  CommandResult seal = Qxweb("seal " + ShellQuote(project_));
  EXPECT_EQ(seal.status, 1);
  EXPECT_NE(seal.err.find("Unable to read pack file name: garbage"), std::string::npos) << seal.err;
  EXPECT_EQ(ReadFile(Header()), header);
}

TEST_F(QxwebSealTest, InterruptStopsTheSealAndKeepsTheEarlierPackage) {
  ASSERT_EQ(New().status, 0);
  ASSERT_EQ(Qxweb("seal --scan --create-put-to --save " + ShellQuote(project_)).status, 0);
  const std::string header = ReadFile(Header());
  // The first listed file is a large hole that takes a while to compress:
  // Ctrl-C comes while it is being stored, once the staging directory is
  // there, and the run stops before the next file.
  ASSERT_EQ(qx_test::RunCommand("truncate -s 192M " + ShellQuote(src_ + "/aa.big")).status, 0);
  std::string project = ReadFile(project_);
  const std::string end = "*** End Of Header ***\r\n";
  project.insert(project.find(end) + end.size(), "File: aa.big;\r\n");
  qx_test::WriteFile(project_, project);
  const std::string staging = out_ + "/.Demo.seal";
  CommandResult run = qx_test::RunCommand(
      "XDG_CONFIG_HOME=" + ShellQuote(config_) + " " + ShellQuote(qx_test::QxwebPath()) + " seal " +
      ShellQuote(project_) + " & pid=$!; n=0; while [ ! -d " + ShellQuote(staging) +
      " ] && [ $n -lt 600 ]; do sleep 0.05; n=$((n+1)); done; kill -INT $pid; wait $pid");
  EXPECT_EQ(run.status, 130) << run.err;
  EXPECT_NE(run.err.find("seal cancelled"), std::string::npos) << run.err;
  EXPECT_EQ(ReadFile(Header()), header);
  EXPECT_FALSE(qx_test::FileExists(out_ + "/aa.big"));
  EXPECT_FALSE(qx_test::FileExists(staging));
  EXPECT_EQ(Qxweb("verify " + ShellQuote(Header())).status, 0);
}

// Re-seals of a changed tree killed at random moments: the put-to directory
// always holds the earlier or the new package, never a mix, once a
// publication that a kill cut short has been finished. The re-seals run on
// several threads and keep the files that did not change.
TEST_F(QxwebSealTest, KilledSealsLeaveTheEarlierOrTheNewPackage) {
  constexpr int kFiles = 120;
  auto change_sources = [&](int round) {
    for (int i = 0; i < kFiles; ++i) {
      qx_test::WriteFile(
          src_ + "/many/f" + std::to_string(i) + ".txt",
          qx_test::RandomBytes(2000 + round % 7, static_cast<uint32_t>(round * kFiles + i)));
    }
  };
  change_sources(0);
  ASSERT_EQ(New().status, 0);
  ASSERT_EQ(Qxweb("seal --scan --create-put-to --save " + ShellQuote(project_)).status, 0);

  const auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(Qxweb("seal " + ShellQuote(project_)).status, 0);
  const auto seal_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - started)
                           .count();

  std::mt19937 random(20261207);
  std::uniform_int_distribution<long> delay(0, seal_ms + seal_ms / 4);
  const std::string verify = "verify " + ShellQuote(Header());
  int finished_by_recovery = 0;
  for (int round = 1; round <= 16; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    change_sources(round);
    const long ms = delay(random);
    qx_test::RunCommand("XDG_CONFIG_HOME=" + ShellQuote(config_) + " " +
                        ShellQuote(qx_test::QxwebPath()) + " seal --jobs 3 " +
                        ShellQuote(project_) + " >/dev/null 2>&1 & pid=$!; sleep " +
                        std::to_string(ms / 1000.0) + "; kill -KILL $pid; wait $pid");
    if (Qxweb(verify).status != 0) {
      // Only a publication under way may leave the directory unverified.
      ASSERT_TRUE(qx_test::FileExists(out_ + "/.Demo.seal/publish"));
      ASSERT_TRUE(qx::RecoverSealStaging(out_, "Demo"));
      ++finished_by_recovery;
    }
    CommandResult checked = Qxweb(verify);
    ASSERT_EQ(checked.status, 0) << checked.out << checked.err;
  }
  // The next seal clears whatever the last kill left.
  ASSERT_EQ(Qxweb("seal " + ShellQuote(project_)).status, 0);
  EXPECT_FALSE(qx_test::FileExists(out_ + "/.Demo.seal"));
  RecordProperty("finished_by_recovery", finished_by_recovery);
}

// A run of seals of one project, each checked against the put-to directory
// it leaves: a signed seal's signature verifies, names the published bytes
// and has a sequence past the one before; a refused seal changes nothing;
// and the header and stored files are always those of an unsigned seal of
// the same tree into another directory.
// Files around the size up to which a file is read whole: the package of
// one job and of four is the same byte for byte, every stored file expands
// with gzip and with qxweb's own expander to its source, and the seal on
// four jobs of many files just under that size stays within its memory.
TEST_F(QxwebSealTest, FilesAroundTheWholeFileBoundSealAlikeOnAnyJobsAndWithinMemory) {
  constexpr size_t kBound = qx::codec_detail::kWholeFileBound;
  const std::map<std::string, std::string> added = {
      {"big/empty.bin", ""},
      {"big/text-at-bound.txt", qx_test::TextBytes(kBound, 41)},
      {"big/text-over-bound.txt", qx_test::TextBytes(kBound + 1, 42)},
      {"big/random-at-bound.bin", qx_test::RandomBytes(kBound, 43)},
      {"big/random-over-bound.bin", qx_test::RandomBytes(kBound + 1, 44)},
      {"big/random-a.bin", qx_test::RandomBytes(kBound - 1, 45)},
      {"big/random-b.bin", qx_test::RandomBytes(kBound - 2, 46)},
      {"big/random-c.bin", qx_test::RandomBytes(kBound - 3, 47)},
      {"big/random-d.bin", qx_test::RandomBytes(kBound - 4, 48)},
      {"big/random-e.bin", qx_test::RandomBytes(kBound - 5, 49)},
  };
  fs::create_directories(src_ + "/big");
  for (const auto& [name, bytes] : added) {
    qx_test::WriteFile(src_ + "/" + name, bytes);
  }
  ASSERT_EQ(New().status, 0);
  ASSERT_EQ(Qxweb("scan " + ShellQuote(project_)).status, 0);
  const std::string four = dir_ / "four.QXS";
  ASSERT_EQ(Qxweb("new " + ShellQuote(four) + " --name Demo --command-line 'bin/planner -q'" +
                  " --seal-from " + ShellQuote(src_) + " --put-to " + ShellQuote(dir_ / "four") +
                  " --owner 'Demo Works' --install-to apps/demo")
                .status,
            0);
  ASSERT_EQ(Qxweb("scan " + ShellQuote(four)).status, 0);

  ASSERT_EQ(Qxweb("seal --jobs 1 --create-put-to " + ShellQuote(project_)).status, 0);
  ASSERT_EQ(Qxweb("seal --jobs 4 --create-put-to " + ShellQuote(four)).status, 0);
  const std::map<std::string, std::string> one_job = Tree(out_);
  EXPECT_TRUE(one_job == Tree(dir_ / "four"));
  ASSERT_EQ(Qxweb("verify " + ShellQuote(Header())).status, 0);
  for (const auto& [name, bytes] : added) {
    SCOPED_TRACE(name);
    const std::string stored = out_ + "/" + name;
    EXPECT_EQ(qx_test::RunCommand("gzip -t " + ShellQuote(stored)).status, 0);
    const CommandResult expanded = qx_test::RunCommand("gzip -dc " + ShellQuote(stored));
    EXPECT_EQ(expanded.status, 0);
    EXPECT_TRUE(expanded.out == bytes);
    const std::string copy = dir_ / "copy";
    ASSERT_EQ(Qxweb("expand-file --key Demo " + ShellQuote(stored) + " " + ShellQuote(copy)).status,
              0);
    EXPECT_TRUE(ReadFile(copy) == bytes);
  }

  // The peak of the seal alone: a child forked from this test would count
  // the test's own pages. A sanitizer's shadow memory and quarantine would
  // be counted too.
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer's own memory would be measured";
#endif
  if (!qx_test::FileExists("/usr/bin/time")) {
    GTEST_SKIP() << "no /usr/bin/time to measure the peak memory with";
  }
  const std::string peak_file = dir_ / "peak";
  ASSERT_EQ(Qxweb("seal --full --jobs 4 " + ShellQuote(four)).status, 0);
  const CommandResult timed =
      qx_test::RunCommand("XDG_CONFIG_HOME=" + ShellQuote(config_) + " /usr/bin/time -f %M -o " +
                          ShellQuote(peak_file) + " " + ShellQuote(qx_test::QxwebPath()) +
                          " seal --full --jobs 4 " + ShellQuote(four));
  ASSERT_EQ(timed.status, 0) << timed.err;
  // Four jobs would hold 64 MiB of buffers for these files without the
  // budget.
  EXPECT_LT(std::stol(ReadFile(peak_file)), 64 * 1024) << "kB";
}

TEST_F(QxwebSealTest, SignedSealsPublishAVerifiedSignature) {
  enum Outcome { kSigned, kRefused, kUnsigned };
  const struct {
    const char* what;
    const char* change;   // a source rewritten before the seal
    bool raise_sequence;  // the published signature's sequence put ahead of the clock
    const char* arguments;
    const char* passphrase;
    Outcome outcome;
    const char* message;  // in stderr
  } steps[] = {
      {"first signed seal", nullptr, false, "--scan --create-put-to --save --sign KEY", "pw",
       kSigned, ""},
      {"again within the second", nullptr, false, "--sign KEY", "pw", kSigned, ""},
      {"one file changed", "data/tasks.csv", false, "--sign KEY", "pw", kSigned, ""},
      {"clock behind the sequence", "docs/manual.txt", true, "--sign KEY", "pw", kSigned, ""},
      {"no key over a signature", "data/tasks.csv", false, "", "pw", kRefused,
       "Demo.qxw.sig signs this package: sealed without a key, every client that pinned the key "
       "would refuse the new version as a downgrade"},
      {"wrong passphrase", "data/tasks.csv", false, "--sign KEY", "bad", kRefused,
       "qxweb seal: KEY: wrong passphrase"},
      {"unsigned drops the signature", "data/tasks.csv", false, "--unsigned", "pw", kUnsigned, ""},
  };
  const std::string key = dir_ / "key";
  ASSERT_EQ(qx_test::RunCommand("QXWEB_KEY_PASSPHRASE=pw " + ShellQuote(qx_test::QxwebPath()) +
                                " key new " + ShellQuote(key))
                .status,
            0);
  const qx::SignatureResult<std::string> public_key = qx::ReadPublicKeyFile(key + ".pub");
  ASSERT_TRUE(public_key.ok()) << public_key.error;
  ASSERT_EQ(New().status, 0);
  // The same tree sealed without a key into another directory.
  const std::string reference = dir_ / "reference";
  const std::string reference_project = dir_ / "reference.QXS";
  ASSERT_EQ(
      Qxweb("new " + ShellQuote(reference_project) +
            " --name Demo --command-line 'bin/planner -q' --seal-from " + ShellQuote(src_) +
            " --put-to " + ShellQuote(reference) + " --owner 'Demo Works' --install-to apps/demo")
          .status,
      0);
  const std::string signature_path = Header() + ".sig";
  uint64_t sequence = static_cast<uint64_t>(std::time(nullptr));
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    if (step.change != nullptr) {
      qx_test::WriteFile(src_ + "/" + step.change, std::string(step.what) + "\n");
    }
    if (step.raise_sequence) {
      std::string text = ReadFile(signature_path);
      const std::string line = "sequence " + std::to_string(sequence) + "\n";
      sequence += 100000;
      text.replace(text.find(line), line.size(), "sequence " + std::to_string(sequence) + "\n");
      qx_test::WriteFile(signature_path, text);
    }
    std::string arguments = step.arguments;
    if (const size_t at = arguments.find("KEY"); at != std::string::npos) {
      arguments.replace(at, 3, ShellQuote(key));
    }
    const auto before = Tree(out_);
    const CommandResult seal = qx_test::RunCommand(
        "QXWEB_KEY_PASSPHRASE=" + std::string(step.passphrase) +
        " XDG_CONFIG_HOME=" + ShellQuote(config_) + " " + ShellQuote(qx_test::QxwebPath()) +
        " seal " + arguments + " " + ShellQuote(project_) + " </dev/null");
    std::string message = step.message;
    if (const size_t at = message.find("KEY"); at != std::string::npos) {
      message.replace(at, 3, key);
    }
    EXPECT_NE(seal.err.find(message), std::string::npos) << seal.err;
    if (step.outcome == kRefused) {
      EXPECT_EQ(seal.status, 1);
      EXPECT_EQ(Tree(out_), before);
      continue;
    }
    ASSERT_EQ(seal.status, 0) << seal.err;
    ASSERT_EQ(Qxweb("seal --scan --create-put-to --full " + ShellQuote(reference_project)).status,
              0);
    auto published = Tree(out_);
    const auto unsigned_tree = Tree(reference);
    EXPECT_EQ(published.erase("Demo.qxw.sig"), step.outcome == kSigned ? 1u : 0u);
    EXPECT_EQ(published, unsigned_tree);
    if (step.outcome != kSigned) {
      continue;
    }
    const std::string bytes = ReadFile(signature_path);
    const qx::SignatureResult<qx::PackageSignature> parsed = qx::ParseSignature(bytes);
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    EXPECT_EQ(qx::VerifySignature(parsed.value, bytes), "");
    EXPECT_EQ(qx::CheckSignerKey(parsed.value, public_key.value), "");
    // The first is at least the time the test began; each later one past
    // the one before.
    EXPECT_GE(parsed.value.sequence, &step == steps ? sequence : sequence + 1);
    if (step.raise_sequence) {
      EXPECT_EQ(parsed.value.sequence, sequence + 1);
    }
    sequence = parsed.value.sequence;
    EXPECT_EQ(parsed.value.header_sha256, qx::Sha256OfFile(Header()).value);
    std::vector<std::string> names;
    for (const qx::SignedFile& file : parsed.value.files) {
      std::string path = file.name;
      std::replace(path.begin(), path.end(), '\\', '/');
      names.push_back(path);
      EXPECT_EQ(file.sha256, qx::Sha256OfFile(out_ + "/" + path).value) << path;
      EXPECT_EQ(file.length, static_cast<int64_t>(fs::file_size(out_ + "/" + path))) << path;
    }
    EXPECT_EQ(names, kSampleFiles);
  }
}

TEST_F(QxwebSealTest, NewRefusesWhatTheFormRefuses) {
  CommandResult bad_name = New("--force", "my app");
  EXPECT_EQ(bad_name.status, 1);
  EXPECT_NE(bad_name.err.find("Invalid application Name (no space(s) allow)."), std::string::npos)
      << bad_name.err;
  CommandResult bad_install = New("--force", "Demo", "\\apps");
  EXPECT_EQ(bad_install.status, 1);
  EXPECT_NE(bad_install.err.find("Invalid Install To entry."), std::string::npos)
      << bad_install.err;
  CommandResult long_name = New("--force", "NineChars");
  EXPECT_EQ(long_name.status, 2);
  EXPECT_FALSE(fs::exists(project_));

  ASSERT_EQ(New().status, 0);
  EXPECT_EQ(New().status, 1);  // not replaced without --force
  EXPECT_EQ(New("--force").status, 0);
}

}  // namespace
