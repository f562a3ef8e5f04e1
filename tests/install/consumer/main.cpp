// Install test: a client of the installed library, across its layers, that
// reads a package header and writes its landing page: consumer HEADER PAGE.
#include <cstdio>
#include <memory>
#include <string>

#include "core/compress/codec.h"
#include "core/digest/secure_digest.h"
#include "core/format/header_reader.h"
#include "core/format/landing_page.h"
#include "core/fsutil/path_text.h"
#include "core/package/stored_file_check.h"
#include "core/platform/list_box.h"
#include "core/platform/user_interface.h"
#include "core/widthlist/width_list.h"

namespace {

// A user interface of the client's own, called from inside the library.
class CountingInterface : public qx::UserInterface {
 public:
  void Beep(qx::BeepKind) override { ++beeps; }
  qx::BoxAnswer ShowMessageBox(const qx::MessageBoxRequest& request) override {
    last_text = request.text;
    return qx::BoxAnswer::kOk;
  }
  int beeps = 0;
  std::string last_text;
};

int Fail(const char* what) {
  std::fprintf(stderr, "consumer: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    return Fail("usage: consumer HEADER PAGE");
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> header(std::fopen(argv[1], "r"), &std::fclose);
  if (!header) {
    return Fail("cannot open the header");
  }
  qx::FormatVersion version;
  std::unique_ptr<qx::PackageHeader> record;
  if (qx::ReadPackageHeader(header.get(), &version, &record) != qx::kHeaderOk) {
    return Fail("the header does not verify");
  }
  if (qx::BuiltLandingPageEdition() != qx::LandingPageEdition::kFull) {
    return Fail("not the full edition");
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> page(std::fopen(argv[2], "wb"), &std::fclose);
  if (!page || qx::WriteLandingPage(page.get(), nullptr, record->values.appl_name.c_str()) != 0) {
    return Fail("cannot write the page");
  }

  // Classes cross the boundary both ways.
  qx::MemoryListBox list;
  if (!qx::WidthListCreate(list) || qx::WidthListAdd(list, "abc") == qx::kWidthListFailed ||
      qx::FindWidthList(list)->count() != 1) {
    return Fail("width table");
  }
  CountingInterface ui;
  {
    qx::ScopedUserInterface scope(ui);
    qx::ShowCodecMessage("hello %d", 42);
  }
  if (ui.beeps != 1 || ui.last_text != "hello 42") {
    return Fail("user interface");
  }
  // Headers from every layer the client uses; the digest's owner releases it
  // through a const member of the library.
  {
    qx::DigestPtr digest = qx::DigestNew();
    char text[qx::kDigestBufferSize] = {};
    if (!digest || qx::SecureDigest(digest.get(), text, sizeof text, nullptr) != qx::kDigestOk ||
        std::string(text) != "d41d8cd98f00b204e9800998ecf8427e") {
      return Fail("digest");
    }
  }
  if (!qx::IsSafeRelativeName("bin\\demo") ||
      qx::CheckStoredFile(record.get(), nullptr, nullptr) != qx::kStoredFileBadArgument) {
    return Fail("paths and stored-file check");
  }
  std::printf("%s: %zu entries\n", record->values.appl_name.c_str(), record->entries.size());
  return 0;
}
