// SHA-256 of bytes and of a file through libcrypto's EVP digests. Signature
// layer.
#include "core/signature/sha256.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "core/platform/file_handle.h"

namespace qx {

namespace {

constexpr size_t kReadBlock = 64 * 1024;

std::string Hex(const unsigned char* bytes, size_t count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0xf];
  }
  return text;
}

}  // namespace

struct Sha256Stream::Context {
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> digest{EVP_MD_CTX_new(), &EVP_MD_CTX_free};
  bool failed = false;
};

Sha256Stream::Sha256Stream() : context_(std::make_unique<Context>()) {
  context_->failed =
      !context_->digest || EVP_DigestInit_ex(context_->digest.get(), EVP_sha256(), nullptr) != 1;
}

Sha256Stream::~Sha256Stream() = default;
Sha256Stream::Sha256Stream(Sha256Stream&&) noexcept = default;
Sha256Stream& Sha256Stream::operator=(Sha256Stream&&) noexcept = default;

void Sha256Stream::Update(const void* data, size_t count) {
  if (!context_->failed) {
    context_->failed = EVP_DigestUpdate(context_->digest.get(), data, count) != 1;
  }
}

std::string Sha256Stream::Finish() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (context_->failed || EVP_DigestFinal_ex(context_->digest.get(), digest, &length) != 1) {
    context_->failed = true;
    return {};
  }
  context_->failed = true;  // finished: no more bytes
  return Hex(digest, length);
}

std::string Sha256Of(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
    return {};
  }
  return Hex(digest, length);
}

SignatureResult<std::string> Sha256OfFile(const std::string& path) {
  const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC));
  if (fd.get() < 0) {
    return SignatureResult<std::string>::Failure(path + ": " + std::strerror(errno));
  }
  Sha256Stream sha256;
  std::vector<unsigned char> block(kReadBlock);
  for (;;) {
    const ssize_t n = ::read(fd.get(), block.data(), block.size());
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      return SignatureResult<std::string>::Failure(path + ": " + std::strerror(errno));
    }
    if (n == 0) {
      break;
    }
    sha256.Update(block.data(), static_cast<size_t>(n));
  }
  std::string text = sha256.Finish();
  if (text.empty()) {
    return SignatureResult<std::string>::Failure(path + ": SHA-256 failed");
  }
  return {std::move(text), {}};
}

bool IsSha256Text(std::string_view text) {
  if (text.size() != kSha256TextLength) {
    return false;
  }
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
      return false;
    }
  }
  return true;
}

}  // namespace qx
