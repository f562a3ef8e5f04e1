// Digests of a bitmap resource and of a text file, both keyed by their names,
// and of an open file's bytes. Digest layer.
#include "core/digest/file_digests.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "core/digest/secure_digest.h"

namespace qx {

namespace {

constexpr size_t kMaxTextLine = 255;
// Read size of DigestFileBytes: few calls for a large file, little memory.
constexpr size_t kFileBlock = 128 * 1024;

}  // namespace

int DigestBitmapResource(ModuleHandle module, const char* name, size_t out_len, char* out) {
  if (module < kFirstModuleHandle || name == nullptr || out == nullptr) {
    return kDigestFailed;
  }
  std::shared_ptr<const BitmapSource> source = FindBitmapModule(module);
  Bitmap bitmap;
  if (!source || !source->Load(name, bitmap)) {
    return kDigestFailed;
  }
  const int64_t total = static_cast<int64_t>(bitmap.height) * bitmap.width_bytes;
  if (bitmap.height <= 0 || bitmap.width_bytes <= 0 || total <= 0 ||
      bitmap.bits.size() < static_cast<size_t>(total)) {
    return kDigestFailed;
  }
  DigestPtr context = DigestNew();
  if (!context) {
    return kDigestFailed;
  }
  // The last two bytes of every row are left out.
  const size_t row_bytes = static_cast<size_t>(bitmap.width_bytes);
  const size_t fed = row_bytes > 2 ? row_bytes - 2 : 0;
  for (int32_t row = 0; row < bitmap.height; ++row) {
    DigestUpdate(context.get(), bitmap.bits.data() + static_cast<size_t>(row) * row_bytes, fed);
  }
  return SecureDigest(context.get(), out, out_len, name);
}

int DigestTextFile(const char* path, size_t out_len, char* out) {
  if (path == nullptr || out == nullptr) {
    return kDigestFailed;
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path, "rb"), &std::fclose);
  if (!file) {
    return kDigestFailed;
  }
  DigestPtr context = DigestNew();
  if (!context) {
    return kDigestFailed;
  }
  // Lines of at most 255 characters, fed up to their first zero byte; a CR
  // right before the line feed is dropped, as a text-mode read drops it.
  char line[kMaxTextLine + 2];
  while (std::fgets(line, sizeof line - 1, file.get()) != nullptr) {
    size_t length = std::strlen(line);
    if (length >= 2 && line[length - 1] == '\n' && line[length - 2] == '\r') {
      line[length - 2] = '\n';
      line[--length] = 0;
    } else if (length >= 1 && line[length - 1] == '\r') {
      // A CR that ends a read may pair with a line feed that follows.
      int next = std::fgetc(file.get());
      if (next == '\n') {
        line[length - 1] = '\n';
      } else if (next != EOF) {
        std::ungetc(next, file.get());
      }
    }
    DigestUpdate(context.get(), line, length);
  }
  if (std::ferror(file.get())) {
    return kDigestFailed;
  }
  std::string key(path);
  const std::string::size_type slash = key.find_last_of("\\/");
  if (slash != std::string::npos) {
    key.erase(0, slash + 1);
  }
  return SecureDigest(context.get(), out, out_len, key.c_str());
}

int DigestFileBytes(int fd, int64_t limit, int64_t* size, size_t out_len, char* out,
                    const char* key_name) {
  DigestPtr context = DigestNew();
  std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[kFileBlock]);
  if (!context || !block) {
    return kDigestFailed;
  }
  int64_t total = 0;
  while (total < limit) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(limit - total, kFileBlock));
    const ssize_t n = ::read(fd, block.get(), want);
    if (n == 0) {
      break;
    }
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return kDigestFailed;
    }
    DigestUpdate(context.get(), block.get(), static_cast<size_t>(n));
    total += n;
  }
  if (size != nullptr) {
    *size = total;
  }
  return SecureDigest(context.get(), out, out_len, key_name);
}

}  // namespace qx
