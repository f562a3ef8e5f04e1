#pragma once

// Helpers the fuzz targets share: the failed-check abort, a user interface
// that shows nothing and counts boxes, a scratch directory for the process
// and whole-file reads and writes.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "core/platform/user_interface.h"

namespace qx_fuzz {

// A failed check is a finding: abort, so libFuzzer keeps the input.
inline void Require(bool condition, const char* what = nullptr) {
  if (!condition) {
    if (what != nullptr) {
      std::fprintf(stderr, "fuzz check failed: %s\n", what);
    }
    std::abort();
  }
}

// Boxes and beeps go nowhere; the boxes are counted and the last one kept.
class QuietUserInterface : public qx::UserInterface {
 public:
  void Beep(qx::BeepKind) override {}
  qx::BoxAnswer ShowMessageBox(const qx::MessageBoxRequest& request) override {
    ++boxes;
    last_text = request.text;
    switch (request.buttons) {
      case qx::BoxButtons::kOk:
      case qx::BoxButtons::kOkCancel:
        return qx::BoxAnswer::kOk;
      case qx::BoxButtons::kYesNo:
      case qx::BoxButtons::kYesNoCancel:
        return qx::BoxAnswer::kYes;
    }
    return qx::BoxAnswer::kOk;
  }

  int boxes = 0;
  std::string last_text;
};

// A fresh directory under $TMPDIR (or /tmp) for the life of the process,
// removed at exit.
inline const std::filesystem::path& ScratchDirectory() {
  static const std::filesystem::path directory = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/qx-fuzz-XXXXXX";
    Require(::mkdtemp(pattern.data()) != nullptr, "no scratch directory");
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(ScratchDirectory(), ignored);
    });
    return std::filesystem::path(pattern);
  }();
  return directory;
}

inline bool WriteBytes(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

inline std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace qx_fuzz
