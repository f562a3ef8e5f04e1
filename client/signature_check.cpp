// The check of a package's signature file against its header and stored
// files. Client.
#include "client/signature_check.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <utility>

#include "core/fsutil/path_text.h"
#include "core/platform/file_handle.h"
#include "core/signature/package_signature.h"
#include "core/signature/sha256.h"
#include "core/signature/signing_key.h"

namespace qx {

namespace {

// The file entries that have stored files, the ones a signature lists.
std::map<std::string_view, const FileEntry*> StoredEntries(const PackageHeader& record) {
  std::map<std::string_view, const FileEntry*> entries;
  for (const auto& entry : record.entries) {
    if (!entry->comment && entry->state != kEntryStateComment) {
      entries.emplace(entry->name, entry.get());
    }
  }
  return entries;
}

// At most |limit| bytes of |path| into |bytes|; false when it cannot be
// opened (|missing| set when it is not there) or read.
bool ReadAtMost(const std::string& path, size_t limit, std::string* bytes, bool* missing) {
  FilePtr file(std::fopen(path.c_str(), "rb"));
  *missing = !file && errno == ENOENT;
  if (!file) {
    return false;
  }
  char block[65536];
  for (size_t got = 0;
       bytes->size() <= limit && (got = std::fread(block, 1, sizeof block, file.get())) > 0;) {
    bytes->append(block, got);
  }
  return std::ferror(file.get()) == 0;
}

SignatureCheck Check(std::string_view signature_bytes, const std::string& label,
                     std::string_view header_bytes, const PackageHeader& record,
                     std::string_view required_key, PackageSignature* signed_files) {
  SignatureCheck check;
  check.present = true;
  const std::map<std::string_view, const FileEntry*> entries = StoredEntries(record);
  if (signature_bytes.size() > MaxSignatureBytes(entries.size())) {
    check.problems.push_back(label + ": longer than a signature of " +
                             std::to_string(entries.size()) + " files can be");
    return check;
  }
  SignatureResult<PackageSignature> parsed = ParseSignature(signature_bytes);
  if (!parsed.ok()) {
    check.problems.push_back(label + ": " + parsed.error);
    return check;
  }
  const PackageSignature& signature = parsed.value;
  check.public_key = signature.public_key;
  check.key_id = signature.key_id;
  check.sequence = signature.sequence;
  if (const std::string wrong = VerifySignature(signature, signature_bytes); !wrong.empty()) {
    check.problems.push_back(label + ": " + wrong);
    return check;
  }
  if (!required_key.empty()) {
    if (const std::string other = CheckSignerKey(signature, required_key); !other.empty()) {
      check.problems.push_back(label + ": " + other);
      return check;
    }
  }
  if (Sha256Of(header_bytes) != signature.header_sha256) {
    check.problems.push_back(label + ": the header is not the one signed (its SHA-256 differs)");
  }
  std::map<std::string_view, bool> signed_names;
  for (const SignedFile& file : signature.files) {
    signed_names.emplace(file.name, true);
    const auto entry = entries.find(file.name);
    if (entry == entries.end()) {
      check.problems.push_back(PrintableText(file.name) +
                               ": signed, but the header lists no such stored file");
    } else if (entry->second->length != file.length) {
      check.problems.push_back(PrintableText(file.name) + ": Length " +
                               std::to_string(entry->second->length) + ", the signature says " +
                               std::to_string(file.length));
    }
  }
  for (const auto& [name, entry] : entries) {
    if (signed_names.count(name) == 0) {
      check.problems.push_back(PrintableText(name) + ": not signed");
    }
  }
  if (signed_files != nullptr) {
    *signed_files = std::move(parsed.value);
  }
  return check;
}

}  // namespace

std::string RequiredKeyOf(const std::string& argument, std::string* error) {
  SignatureResult<std::string> key = ParsePublicKeyLine(argument);
  if (!key.ok()) {
    key = ReadPublicKeyFile(argument);
  }
  if (!key.ok()) {
    *error = argument + ": neither a public key line nor a public key file: " + key.error;
    return {};
  }
  return key.value;
}

SignatureCheck CheckSignatureText(std::string_view signature_bytes, const std::string& label,
                                  std::string_view header_bytes, const PackageHeader& record,
                                  std::string_view required_key,
                                  std::map<std::string, std::string>* signed_files) {
  PackageSignature signature;
  SignatureCheck check =
      Check(signature_bytes, label, header_bytes, record, required_key, &signature);
  if (signed_files != nullptr && check.problems.empty()) {
    for (SignedFile& file : signature.files) {
      signed_files->emplace(std::move(file.name), std::move(file.sha256));
    }
  }
  return check;
}

SignatureCheck CheckSignatureFile(const std::string& header_path, const PackageHeader& record,
                                  std::string_view required_key, bool stored_files) {
  const std::string path = header_path + std::string(kSignatureSuffix);
  const std::string label = PrintableText(path);
  std::string signature_bytes;
  bool missing = false;
  if (!ReadAtMost(path, MaxSignatureBytes(StoredEntries(record).size()), &signature_bytes,
                  &missing)) {
    SignatureCheck none;
    if (!missing) {
      none.problems.push_back(label + ": cannot be read: " + std::strerror(errno));
    } else if (!required_key.empty()) {
      none.problems.push_back(label +
                              ": missing; the package is not signed, but a key was "
                              "required");
    }
    return none;
  }
  std::string header_bytes;
  if (!ReadAtMost(header_path, SIZE_MAX - 1, &header_bytes, &missing)) {
    SignatureCheck unread;
    unread.problems.push_back(PrintableText(header_path) +
                              ": cannot be read: " + std::strerror(errno));
    return unread;
  }
  PackageSignature signature;
  SignatureCheck check =
      Check(signature_bytes, label, header_bytes, record, required_key, &signature);
  for (const SignedFile& file : stored_files ? signature.files : std::vector<SignedFile>()) {
    const SignatureResult<std::string> sha256 =
        Sha256OfFile(JoinNativePath(record.package_directory, file.name));
    if (sha256.ok() && sha256.value != file.sha256) {
      check.problems.push_back(PrintableText(file.name) +
                               ": its stored bytes are not the signed ones (SHA-256 differs)");
    }
  }
  return check;
}

}  // namespace qx
