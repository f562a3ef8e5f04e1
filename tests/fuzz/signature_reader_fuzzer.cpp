// Fuzz target for the package signature reader (signature layer): any bytes
// as a NAME.qxw.sig file. A file the reader takes must be the one form the
// writer gives its values, within the limits, and its check must not fail
// other than by saying so.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "core/signature/package_signature.h"
#include "core/signature/sha256.h"
#include "tests/fuzz/fuzz_support.h"

using qx_fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const qx::SignatureResult<qx::PackageSignature> read = qx::ParseSignature(bytes);
  if (!read.ok()) {
    Require(read.error.compare(0, 5, "line ") == 0 || read.error.find("bytes") != std::string::npos,
            "an error without its line");
    return 0;
  }
  const qx::PackageSignature& s = read.value;
  Require(s.version == qx::kSignatureVersion, "version");
  Require(s.public_key.size() == qx::kPublicKeyBytes, "key size");
  Require(s.key_id == qx::KeyId(s.public_key), "key id");
  Require(s.signature.size() == qx::kSignatureBytes, "signature size");
  Require(qx::IsSha256Text(s.header_sha256), "header hash");
  Require(s.files.size() <= qx::kMaxSignedFiles, "file count");
  Require(size <= qx::MaxSignatureBytes(s.files.size()), "size against the file count");

  // The text the writer makes of these values, but for the signature line.
  std::string text = std::string(qx::kSignatureMagic) + " 1\nkey " +
                     qx::PublicKeyLine(s.public_key) + "\nsequence " + std::to_string(s.sequence) +
                     "\nheader " + s.header_sha256 + "\nfiles " + std::to_string(s.files.size()) +
                     "\n";
  std::set<std::string_view> names;
  for (const qx::SignedFile& file : s.files) {
    Require(!file.name.empty() && file.name.size() <= qx::kMaxSignedName, "name size");
    for (const char c : file.name) {
      Require(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f, "control character in a name");
    }
    Require(names.insert(file.name).second, "two files of one name");
    Require(file.length >= 0 && qx::IsSha256Text(file.sha256), "file fields");
    text += "file " + std::to_string(file.length) + " " + file.sha256 + " " + file.name + "\n";
  }
  Require(s.signed_length == text.size() && bytes.substr(0, text.size()) == text,
          "signed lines not in the writer's form");
  Require(bytes.substr(text.size()) == "signature " + qx::Base64Of(s.signature) + "\n",
          "signature line not in the writer's form");
  qx::VerifySignature(s, bytes);
  return 0;
}
