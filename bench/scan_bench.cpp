// Scan benchmark tool (not a test; bench/scan_bench.sh drives it): makes
// deterministic source trees and times the sealer's scan over them.
//
//   qx_scan_bench make-tree DIR FILES   writes a deterministic tree of FILES
//                                       files, five per directory, eight
//                                       subdirectories per directory
//   qx_scan_bench scan DIR [ROUNDS]     times the Scan command over DIR in
//                                       fresh mode, then in merge mode, and
//                                       prints "fresh SECONDS US_PER_FILE" and
//                                       "merge SECONDS US_PER_FILE" (best of
//                                       ROUNDS, default 3)
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/platform/console_user_interface.h"
#include "sealer/project/form_commands.h"
#include "sealer/project/memory_form_view.h"
#include "sealer/project/source_scan.h"

namespace {

constexpr long kFilesPerDirectory = 5;
constexpr long kSubdirectoriesPerDirectory = 8;

// Directory k (0 is the top) hangs below directory (k - 1) / 8, breadth first.
std::string DirectoryPath(const std::string& root, long k) {
  std::string path;
  while (k > 0) {
    path = "/d" + std::to_string((k - 1) % kSubdirectoriesPerDirectory) + path;
    k = (k - 1) / kSubdirectoriesPerDirectory;
  }
  return root + path;
}

int MakeTree(const std::string& root, long files) {
  const long directories = (files + kFilesPerDirectory - 1) / kFilesPerDirectory;
  for (long k = 0; k < directories; ++k) {
    const std::string directory = DirectoryPath(root, k);
    if (mkdir(directory.c_str(), 0755) != 0 && errno != EEXIST) {
      std::perror(directory.c_str());
      return 1;
    }
    for (long i = k * kFilesPerDirectory; i < files && i < (k + 1) * kFilesPerDirectory; ++i) {
      // Both cases, so that the byte order matters.
      const std::string path =
          directory + (i % 2 == 0 ? "/File" : "/file") + std::to_string(i) + ".dat";
      FILE* file = std::fopen(path.c_str(), "wb");
      if (file == nullptr) {
        std::perror(path.c_str());
        return 1;
      }
      std::fputs("x\n", file);
      std::fclose(file);
    }
  }
  return 0;
}

// Prints every box to stderr and counts them: a scan that shows one failed.
class CountingInterface : public qx::ConsoleUserInterface {
 public:
  qx::BoxAnswer ShowMessageBox(const qx::MessageBoxRequest& request) override {
    ++boxes;
    return qx::ConsoleUserInterface::ShowMessageBox(request);
  }
  int boxes = 0;
};

// Seconds of one Scan; false when it failed.
bool TimeScan(qx::SealerState& state, qx::MemoryFormView& view, double& seconds) {
  const auto start = std::chrono::steady_clock::now();
  const bool scanned = qx::ScanCommand(state, view);
  seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return scanned;
}

int Scan(const std::string& root, int rounds) {
  CountingInterface ui;
  qx::ScopedUserInterface scoped(ui);
  double best_fresh = 1e9;
  double best_merge = 1e9;
  int files = 0;
  for (int round = 0; round < rounds; ++round) {
    qx::SealerState state;
    qx::MemoryFormView view;
    view.SetFieldText(qx::FormControl::kSealFrom, root);
    view.SetFieldText(qx::FormControl::kPutTo, root + ".out");
    double fresh = 0;
    double merge = 0;
    // The second scan merges: the seal-from directory is the one the list came from.
    if (!TimeScan(state, view, fresh) || !TimeScan(state, view, merge) || ui.boxes != 0) {
      std::fprintf(stderr, "scan failed\n");
      return 1;
    }
    files = state.project.file_count;
    if (view.file_list().Count() != files) {
      std::fprintf(stderr, "list has %d lines for %d files\n", view.file_list().Count(), files);
      return 1;
    }
    best_fresh = std::min(best_fresh, fresh);
    best_merge = std::min(best_merge, merge);
  }
  const double per_file = files > 0 ? 1e6 / files : 0;
  std::printf("files %d\nfresh %.4f %.3f\nmerge %.4f %.3f\n", files, best_fresh,
              best_fresh * per_file, best_merge, best_merge * per_file);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 3 && args[0] == "make-tree") {
    return MakeTree(args[1], std::atol(args[2].c_str()));
  }
  if ((args.size() == 2 || args.size() == 3) && args[0] == "scan") {
    return Scan(args[1], args.size() == 3 ? std::atoi(args[2].c_str()) : 3);
  }
  std::fprintf(stderr, "usage: qx_scan_bench make-tree DIR FILES | scan DIR [ROUNDS]\n");
  return 2;
}
