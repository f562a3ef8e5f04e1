#pragma once

// Ed25519 signing keys: making a key pair, its files (a PKCS#8 PEM secret key
// and a one-line public key), key ids, and signing and checking bytes.
// Signature layer, over libcrypto.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "core/signature/signature_result.h"
#include "qxwebcore_export.h"

struct evp_pkey_st;  // libcrypto's EVP_PKEY

namespace qx {

// Bytes of a raw Ed25519 public key and of a signature.
inline constexpr size_t kPublicKeyBytes = 32;
inline constexpr size_t kSignatureBytes = 64;
// The first word of a public key line.
inline constexpr std::string_view kPublicKeyKind = "qxweb-ed25519";
// Hex digits of a key id.
inline constexpr size_t kKeyIdLength = 16;
// The name of a secret key file's public key: the secret key's name plus this.
inline constexpr std::string_view kPublicKeySuffix = ".pub";
// Longest passphrase a secret key file is encrypted with.
inline constexpr size_t kMaxPassphraseBytes = 512;

// An Ed25519 key pair in memory. Copies share the key.
class QXWEBCORE_EXPORT SigningKey {
 public:
  SigningKey() = default;
  // Takes a libcrypto Ed25519 key (for the functions below).
  explicit SigningKey(std::shared_ptr<evp_pkey_st> key);

  bool empty() const { return !key_; }
  // The public half's 32 raw bytes; empty for an empty key.
  const std::string& public_key() const { return public_key_; }
  const std::shared_ptr<evp_pkey_st>& handle() const { return key_; }

 private:
  std::shared_ptr<evp_pkey_st> key_;
  std::string public_key_;
};

// A new random key pair.
QXWEBCORE_EXPORT SignatureResult<SigningKey> MakeSigningKey();

// The key id of a raw public key: the first 16 lower-case hex digits of the
// SHA-256 of its 32 bytes.
QXWEBCORE_EXPORT std::string KeyId(std::string_view public_key);

// The public key line of a raw public key, which a person can paste:
// "qxweb-ed25519 BASE64 ID", the base64 (44 characters, padded) of the 32
// bytes and the key id, one space between them, no line end.
QXWEBCORE_EXPORT std::string PublicKeyLine(std::string_view public_key);

// The raw public key of a public key line exactly as PublicKeyLine writes it
// (no blanks around it, no line end), whose id matches its key.
QXWEBCORE_EXPORT SignatureResult<std::string> ParsePublicKeyLine(std::string_view line);

// The raw public key of a public key file: its line and one line feed.
QXWEBCORE_EXPORT SignatureResult<std::string> ReadPublicKeyFile(const std::string& path);

// Writes |key| to |path| (the secret key, mode 0600, as PKCS#8 PEM, encrypted
// with AES-256-CBC when |passphrase| is not empty) and its public key line to
// |path|.pub. Neither file may exist: a key file is never overwritten. Empty
// on success; otherwise the error, and neither file is left behind.
QXWEBCORE_EXPORT std::string SaveSigningKey(const SigningKey& key, const std::string& path,
                                            std::string_view passphrase);

// Whether the secret key file |path| is encrypted, so that loading it needs
// the passphrase; an error when it cannot be read or holds no PEM key.
QXWEBCORE_EXPORT SignatureResult<bool> SigningKeyIsEncrypted(const std::string& path);

// The key of the secret key file |path|; |passphrase| is used only when the
// file is encrypted (a wrong or missing one is an error saying so).
QXWEBCORE_EXPORT SignatureResult<SigningKey> LoadSigningKey(const std::string& path,
                                                            std::string_view passphrase);

// The Ed25519 signature (64 raw bytes) of |bytes| under |key|.
QXWEBCORE_EXPORT SignatureResult<std::string> SignBytes(const SigningKey& key,
                                                        std::string_view bytes);

// Whether |signature| (64 raw bytes) is the signature of |bytes| under the
// raw public key |public_key|.
QXWEBCORE_EXPORT bool VerifyBytes(std::string_view public_key, std::string_view bytes,
                                  std::string_view signature);

// Strict base64 (padded, no line breaks or blanks) of |bytes|, and back: the
// decoding of |text| when it is the encoding of exactly |size| bytes.
QXWEBCORE_EXPORT std::string Base64Of(std::string_view bytes);
QXWEBCORE_EXPORT SignatureResult<std::string> DecodeBase64(std::string_view text, size_t size);

}  // namespace qx
