#pragma once

// SignatureResult, the value of a key or signature operation or the reason
// there is none. Signature layer.

#include <string>
#include <utility>

namespace qx {

// A value, or an error text saying why there is none. Operations that give
// no value return the error text alone (empty on success).
template <typename T>
struct SignatureResult {
  T value{};
  std::string error;  // empty on success

  static SignatureResult Failure(std::string why) {
    SignatureResult result;
    result.error = std::move(why);
    return result;
  }
  bool ok() const { return error.empty(); }
};

}  // namespace qx
