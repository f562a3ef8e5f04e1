// The earlier signature of a re-seal and the signature file of a signed
// seal. Sealer engine, without a window.
#include "sealer/project/seal_signature.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <utility>

#include "core/platform/file_handle.h"
#include "core/signature/sha256.h"
#include "sealer/project/sealer_messages.h"

namespace qx {

namespace {

// The bytes of |path|, when it is a file no larger than |limit|.
std::optional<std::string> ReadSmallFile(const std::string& path, uint64_t limit) {
  FilePtr file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    return std::nullopt;
  }
  std::string bytes;
  char block[8192];
  size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, file.get())) > 0) {
    bytes.append(block, got);
    if (bytes.size() > limit) {
      return std::nullopt;
    }
  }
  if (std::ferror(file.get()) != 0) {
    return std::nullopt;
  }
  return bytes;
}

}  // namespace

EarlierSignature::EarlierSignature(const std::string& path, std::string_view public_key) {
  const std::optional<std::string> bytes = ReadSmallFile(path, MaxSignatureBytes(kMaxSignedFiles));
  if (!bytes) {
    return;
  }
  SignatureResult<PackageSignature> parsed = ParseSignature(*bytes);
  if (!parsed.ok()) {
    return;
  }
  // A sequence is never given twice, whoever signed the one before.
  sequence_ = parsed.value.sequence;
  if (!VerifySignature(parsed.value, *bytes).empty() ||
      !CheckSignerKey(parsed.value, public_key).empty()) {
    return;
  }
  files_ = std::move(parsed.value.files);
  for (const SignedFile& file : files_) {
    by_name_.emplace(file.name, &file);
  }
}

std::optional<uint64_t> EarlierSignature::NextSequence(uint64_t now) const {
  if (!sequence_) {
    return now;
  }
  if (*sequence_ == std::numeric_limits<uint64_t>::max()) {
    return std::nullopt;
  }
  return std::max(now, *sequence_ + 1);
}

const std::string* EarlierSignature::KeptSha256(std::string_view name, int64_t length) const {
  const auto found = by_name_.find(name);
  if (found == by_name_.end() || found->second->length != length) {
    return nullptr;
  }
  return &found->second->sha256;
}

Result<void> WriteSealSignature(const SigningKey& key, uint64_t sequence,
                                const std::string& header_path, std::vector<SignedFile> files,
                                const std::string& path) {
  PackageSignature signature;
  signature.sequence = sequence;
  signature.files = std::move(files);
  const SignatureResult<std::string> header = Sha256OfFile(header_path);
  if (!header.ok()) {
    return SealFailure("Unable to sign the package: " + header.error);
  }
  signature.header_sha256 = header.value;
  const SignatureResult<std::string> text = SignatureText(signature, key);
  if (!text.ok()) {
    return SealFailure("Unable to sign the package: " + text.error);
  }
  FilePtr file(std::fopen(path.c_str(), "wb"));
  if (!file ||
      std::fwrite(text.value.data(), 1, text.value.size(), file.get()) != text.value.size() ||
      !CloseChecked(file)) {
    return SealFailure("Unable to write " + path + " file");
  }
  return {};
}

}  // namespace qx
