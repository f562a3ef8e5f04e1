#pragma once

// The passphrase of a secret key file, from the environment or typed on the
// terminal, and loading a secret key with it: shared by "qxweb key" and
// "qxweb seal --sign". Command-line program.

#include <optional>
#include <string>

#include "core/signature/signing_key.h"

namespace qxweb_tool {

// The environment variable that holds the passphrase.
inline constexpr char kPassphraseVariable[] = "QXWEB_KEY_PASSPHRASE";

// The passphrase: the environment's, else asked on the terminal (twice when
// |confirm|), else none (nothing when no terminal can be asked). An error is
// printed after "qxweb COMMAND: " and |failed| set when the answers differ or
// cannot be read.
std::optional<std::string> Passphrase(const std::string& command, const std::string& file,
                                      bool confirm, bool* failed);

// The key of the secret key file |path|, asking for the passphrase of an
// encrypted one as Passphrase does. An empty key after printing why, after
// "qxweb COMMAND: ".
qx::SigningKey LoadSecretKeyFile(const std::string& command, const std::string& path);

}  // namespace qxweb_tool
