#pragma once

// A signed seal: the signature an earlier seal left in the put-to directory
// (its sequence, and the SHA-256 of the files the new seal keeps), and the
// new signature file written beside the staged header. Sealer engine,
// without a window.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/platform/result.h"
#include "core/signature/package_signature.h"
#include "core/signature/signing_key.h"

namespace qx {

class EarlierSignature {
 public:
  // Reads the signature file |path| when there is one. Its file hashes are
  // taken only when it verifies and was signed with |public_key|.
  EarlierSignature(const std::string& path, std::string_view public_key);

  // The sequence of a seal at |now| (seconds since the epoch): past the
  // earlier signature's, whatever the clock says. Nothing when the earlier
  // one has the last sequence there is.
  std::optional<uint64_t> NextSequence(uint64_t now) const;

  // The SHA-256 the earlier signature gives the stored file |name| when it
  // lists it with |length|; null otherwise. Safe from several threads.
  const std::string* KeptSha256(std::string_view name, int64_t length) const;

 private:
  std::optional<uint64_t> sequence_;
  std::vector<SignedFile> files_;
  std::unordered_map<std::string_view, const SignedFile*> by_name_;
};

// Writes the signature of the staged header |header_path| and of |files|
// under |key| with |sequence| to |path|.
Result<void> WriteSealSignature(const SigningKey& key, uint64_t sequence,
                                const std::string& header_path, std::vector<SignedFile> files,
                                const std::string& path);

}  // namespace qx
