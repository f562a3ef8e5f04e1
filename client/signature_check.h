#pragma once

// The check of a package's signature file (NAME.qxw.sig) against the
// header and the stored files it signs, for verify and the client. Client.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "core/format/header_reader.h"

namespace qx {

// What a signature beside a package says, once checked.
struct SignatureCheck {
  bool present = false;    // a signature file lies beside the header
  std::string public_key;  // the signer's raw public key
  std::string key_id;
  uint64_t sequence = 0;
  std::vector<std::string> problems;  // "WHAT: what is wrong", in order
};

// The key a user names: a public key file (.pub) or the key's line itself.
// Empty, with |error| set, when it is neither.
std::string RequiredKeyOf(const std::string& argument, std::string* error);

// Checks the signature |signature_bytes|, labelled |label| in problems, of
// the header |header_bytes| read as |record|: the signature holds under the
// key it carries, that key is |required_key| when one is given (raw bytes),
// the header's SHA-256 is the signed one, and the signed files are the
// record's stored files with their Lengths. The stored files' own SHA-256
// are not looked at; |signed_files|, when given, receives each one's signed
// SHA-256 by name once the signature holds.
SignatureCheck CheckSignatureText(std::string_view signature_bytes, const std::string& label,
                                  std::string_view header_bytes, const PackageHeader& record,
                                  std::string_view required_key,
                                  std::map<std::string, std::string>* signed_files = nullptr);

// The same for the header at |header_path| and the signature beside it, and
// then, with |stored_files|, every stored file's SHA-256 in the record's
// package directory. A missing signature is no problem unless
// |required_key| is given.
SignatureCheck CheckSignatureFile(const std::string& header_path, const PackageHeader& record,
                                  std::string_view required_key, bool stored_files = true);

}  // namespace qx
