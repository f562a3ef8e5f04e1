#pragma once

// The signer each application is pinned to, and the rules a new version's
// signature must meet against that pin: the same key, a higher sequence,
// never unsigned once signed. Client.

#include <cstdint>
#include <optional>
#include <string>

#include "client/signature_check.h"

namespace qx {

// The section of qxweb.ini that holds the pins, apart from the
// applications' own sections, so that removing an application keeps its
// pin: "NAME=BASE64 SEQUENCE", the signer's public key and the last
// sequence taken.
inline constexpr std::string_view kSignersSection = "Signers";
// General/RequireSignature=Yes refuses unsigned packages, as
// --require-signature does.
inline constexpr std::string_view kRequireSignatureKey = "RequireSignature";

struct SignerPin {
  std::string public_key;  // raw bytes
  uint64_t sequence = 0;
};

// The pin of the cached application |name|, if it has one that reads.
std::optional<SignerPin> ReadSignerPin(const std::string& name);
// Writes or, with no pin, removes the pin of |name|; false when qxweb.ini
// could not be written.
bool WriteSignerPin(const std::string& name, const std::optional<SignerPin>& pin);
// Whether qxweb.ini asks for signed packages only.
bool SignatureRequiredBySetting();

// What the user asked of the signer on the command line.
struct SignerPolicy {
  std::string required_key;  // raw; the first install must carry this key
  std::string new_key;       // raw; a pinned application may move to this key
  bool require_signature = false;
};

// Whether a version of |name| signed as |signature| says may replace what
// the cache holds, and the pin to keep afterwards.
struct SignerJudgement {
  std::string refusal;           // empty: it may
  std::optional<SignerPin> pin;  // to write with the change (the same when unchanged)
  std::string note;              // for the user: the signer, or that there is none
};

// |same_header| says that the new header is byte for byte the cached one,
// which may be taken again at the sequence it already has.
SignerJudgement JudgeSigner(const std::string& name, const SignatureCheck& signature,
                            bool same_header, const SignerPolicy& policy);

}  // namespace qx
