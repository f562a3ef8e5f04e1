#pragma once

// The package signature file NAME.qxw.sig, which lies beside the header: the
// signer's key, a sequence number, the SHA-256 of the header and of every
// stored file, and an Ed25519 signature over all of it. Its writer, its
// strict reader and the signature check. Signature layer.
//
// Version 1, every line ending in a line feed alone, fields one space apart:
//   qxweb-signature 1
//   key qxweb-ed25519 BASE64 ID      the signer's public key line
//   sequence N                       decimal, 0 to 2^64-1, no leading zeros
//   header SHA256                    of the header file's bytes
//   files COUNT                      the number of file lines that follow
//   file LENGTH SHA256 NAME          per stored file; NAME is the rest of the line
//   signature BASE64                 over every byte before this line

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/format/header_reader.h"
#include "core/signature/signature_result.h"
#include "core/signature/signing_key.h"
#include "qxwebcore_export.h"

namespace qx {

// The format version this code writes and the only one it reads.
inline constexpr int kSignatureVersion = 1;
// The first word of a signature file.
inline constexpr std::string_view kSignatureMagic = "qxweb-signature";
// The name of a header's signature file: the header's name plus this.
inline constexpr std::string_view kSignatureSuffix = ".sig";
// Most file lines a signature may have, and its longest entry name in bytes:
// what a header can hold.
inline constexpr uint64_t kMaxSignedFiles = kMaxHeaderEntries;
inline constexpr size_t kMaxSignedName = kMaxEntryName;

// One stored file: its entry name as the header writes it, its Length and
// the SHA-256 of its stored bytes.
struct SignedFile {
  std::string name;
  int64_t length = 0;
  std::string sha256;
};

// The contents of a signature file.
struct PackageSignature {
  int version = kSignatureVersion;
  std::string public_key;  // 32 raw bytes
  std::string key_id;
  uint64_t sequence = 0;
  std::string header_sha256;
  std::vector<SignedFile> files;
  // Filled by the reader: the 64 raw signature bytes, and how many bytes of
  // the file they sign (all before the signature line).
  std::string signature;
  size_t signed_length = 0;
};

// The most bytes a signature file of |files| file lines can have.
QXWEBCORE_EXPORT uint64_t MaxSignatureBytes(uint64_t files);

// The text of |signature| signed with |key|; the key line is |key|'s, whatever
// public_key and key_id hold. An error when a field could not be read back
// (a bad hash, a negative Length, a name that is empty, too long or holds a
// control character, two files of one name, too many files).
QXWEBCORE_EXPORT SignatureResult<std::string> SignatureText(const PackageSignature& signature,
                                                            const SigningKey& key);

// Reads a signature file's bytes strictly: every line as above and nothing
// else. The signature itself is not checked here (VerifySignature does). An
// error names the line and what is wrong with it.
QXWEBCORE_EXPORT SignatureResult<PackageSignature> ParseSignature(std::string_view bytes);

// Empty when |parsed|, read from |bytes|, carries a valid signature of its
// signed bytes under the key it carries; otherwise the error.
QXWEBCORE_EXPORT std::string VerifySignature(const PackageSignature& parsed,
                                             std::string_view bytes);

// Empty when |parsed| was signed with the raw public key |required|;
// otherwise the error naming both key ids.
QXWEBCORE_EXPORT std::string CheckSignerKey(const PackageSignature& parsed,
                                            std::string_view required);

}  // namespace qx
