// The secure digest over libcrypto's MD5 and RC4: the digest context, the key
// prefix, and the keyed digest as hex text. Digest layer.
#include "core/digest/secure_digest.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

// The digest is defined over MD5 and RC4, which libcrypto 3 keeps only as
// deprecated low-level calls; the warnings are silenced for them alone.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <openssl/crypto.h>
#include <openssl/md5.h>
#include <openssl/rc4.h>

namespace qx {

struct DigestContext {
  MD5_CTX md5;
};

namespace {

constexpr size_t kKeyPrefixLength = 8;

// The key prefix is put together a byte at a time so that it never stands in
// the binary as one string. Packages verify only against builds that share it.
// The stores are volatile: an optimiser would otherwise fold them into one
// eight-byte constant, which is the whole prefix again.
void AssembleKeyPrefix(unsigned char (&prefix)[kKeyPrefixLength + 1]) {
  volatile unsigned char* const out = prefix;
  out[0] = 0x51;
  out[1] = 0xB7;
  out[2] = 0x2E;
  out[3] = 0xD4;
  out[4] = 0x09;
  out[5] = 0x6A;
  out[6] = 0xF3;
  out[7] = 0x8C;
  out[8] = 0;
}

// Scratch values of one finalisation, wiped when released.
struct Scratch {
  unsigned char digest[MD5_DIGEST_LENGTH];
  unsigned char result[MD5_DIGEST_LENGTH];
  unsigned char key[MD5_DIGEST_LENGTH];
  unsigned char prefix[kKeyPrefixLength + 1];
  MD5_CTX key_md5;
  RC4_KEY rc4;
  char text[kDigestTextLength + 1];
  ~Scratch() { OPENSSL_cleanse(this, sizeof *this); }
};

}  // namespace

void DigestContextDeleter::operator()(DigestContext* context) const {
  delete context;
}

DigestPtr DigestNew() {
  DigestPtr context(new (std::nothrow) DigestContext);
  if (context) {
    MD5_Init(&context->md5);
  }
  return context;
}

void DigestUpdate(DigestContext* context, const void* bytes, size_t count) {
  if (context != nullptr && count != 0) {
    MD5_Update(&context->md5, bytes, count);
  }
}

int SecureDigest(DigestContext* context, char* out, size_t out_len, const char* key_name) {
  std::unique_ptr<Scratch> scratch(new (std::nothrow) Scratch);
  if (!scratch || context == nullptr) {
    return kDigestFailed;
  }
  MD5_Final(scratch->digest, &context->md5);
  if (key_name == nullptr) {
    std::memcpy(scratch->result, scratch->digest, sizeof scratch->result);
  } else {
    AssembleKeyPrefix(scratch->prefix);
    MD5_Init(&scratch->key_md5);
    MD5_Update(&scratch->key_md5, scratch->prefix, kKeyPrefixLength);
    MD5_Update(&scratch->key_md5, key_name, std::strlen(key_name));
    MD5_Final(scratch->key, &scratch->key_md5);
    RC4_set_key(&scratch->rc4, MD5_DIGEST_LENGTH, scratch->key);
    RC4(&scratch->rc4, MD5_DIGEST_LENGTH, scratch->digest, scratch->result);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  for (size_t i = 0; i < MD5_DIGEST_LENGTH; ++i) {
    scratch->text[2 * i] = kHex[scratch->result[i] >> 4];
    scratch->text[2 * i + 1] = kHex[scratch->result[i] & 0x0F];
  }
  scratch->text[kDigestTextLength] = 0;
  // Bounded copy: zero-filled past the text, no terminator when it just fits.
  if (out != nullptr) {
    std::strncpy(out, scratch->text, out_len);
  }
  return kDigestOk;
}

}  // namespace qx

#pragma GCC diagnostic pop
