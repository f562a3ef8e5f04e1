// The signer each application is pinned to, and the rules a new version's
// signature must meet against that pin. Client.
#include "client/signer_pins.h"

#include <algorithm>
#include <charconv>

#include "core/cache/cache_registry.h"
#include "core/format/header_lines.h"
#include "core/fsutil/path_text.h"
#include "core/signature/signing_key.h"

namespace qx {

namespace {

// Characters of a pin's value as it is read: the base64 key, a space and up
// to 20 digits, terminating zero included.
constexpr size_t kPinValueSize = 80;

}  // namespace

std::optional<SignerPin> ReadSignerPin(const std::string& name) {
  std::string value;
  ReadCacheString(kSignersSection, name, kPinValueSize, "", value);
  const size_t space = value.find(' ');
  if (space == std::string::npos) {
    return std::nullopt;
  }
  const SignatureResult<std::string> key =
      DecodeBase64(std::string_view(value).substr(0, space), kPublicKeyBytes);
  SignerPin pin;
  const char* digits = value.data() + space + 1;
  const char* end = value.data() + value.size();
  const auto [stop, fault] = std::from_chars(digits, end, pin.sequence);
  if (!key.ok() || fault != std::errc() || stop != end || digits == end) {
    return std::nullopt;
  }
  pin.public_key = key.value;
  return pin;
}

bool WriteSignerPin(const std::string& name, const std::optional<SignerPin>& pin) {
  if (!pin) {
    return WriteCacheString(kSignersSection, name, std::nullopt) == 1;
  }
  return WriteCacheString(kSignersSection, name,
                          Base64Of(pin->public_key) + " " + std::to_string(pin->sequence)) == 1;
}

bool SignatureRequiredBySetting() {
  std::string value;
  ReadCacheString(kGeneralSection, kRequireSignatureKey, 8, "", value);
  return value == kYes;
}

SignerJudgement JudgeSigner(const std::string& name, const SignatureCheck& signature,
                            bool same_header, const SignerPolicy& policy) {
  SignerJudgement judgement;
  const std::optional<SignerPin> pinned = ReadSignerPin(name);
  judgement.pin = pinned;
  const std::string shown = PrintableText(name);
  if (!signature.present) {
    if (pinned) {
      judgement.refusal = "a downgrade: " + shown + " is pinned to key " +
                          KeyId(pinned->public_key) +
                          ", and this version is not signed (qxweb cache forget-key " + shown +
                          " takes the pin away)";
    } else if (!policy.required_key.empty()) {
      judgement.refusal =
          "the package is not signed, and key " + KeyId(policy.required_key) + " was required";
    } else if (policy.require_signature || SignatureRequiredBySetting()) {
      judgement.refusal = "the package is not signed, and a signature is required";
    } else {
      judgement.note = "not signed: nothing but the place it came from vouches for it";
    }
    return judgement;
  }
  const std::string signer = "signed by key " + signature.key_id + " (sequence " +
                             std::to_string(signature.sequence) + ")";
  if (!pinned) {
    judgement.pin = SignerPin{signature.public_key, signature.sequence};
    judgement.note = signer + "; the key is pinned";
    return judgement;
  }
  if (signature.public_key != pinned->public_key) {
    if (policy.new_key != signature.public_key) {
      judgement.refusal = "another key: " + shown + " is pinned to key " +
                          KeyId(pinned->public_key) + ", this version is " + signer +
                          " (--accept-new-key KEY moves the pin to it)";
      return judgement;
    }
    judgement.pin = SignerPin{signature.public_key, signature.sequence};
    judgement.note = signer + "; the pin moves to it from key " + KeyId(pinned->public_key);
    return judgement;
  }
  if (signature.sequence <= pinned->sequence && !same_header) {
    judgement.refusal = "a rollback: this version is " + signer + ", not above the sequence " +
                        std::to_string(pinned->sequence) + " the cache took last";
    return judgement;
  }
  judgement.pin = SignerPin{pinned->public_key, std::max(pinned->sequence, signature.sequence)};
  judgement.note = signer;
  return judgement;
}

}  // namespace qx
