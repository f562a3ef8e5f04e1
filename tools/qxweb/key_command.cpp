// qxweb key: makes a signing key pair and shows the id of a key file.
// Command-line program.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "core/signature/signing_key.h"
#include "tools/qxweb/commands.h"
#include "tools/qxweb/key_passphrase.h"

namespace qxweb_tool {

namespace {

void PrintKey(const std::string& public_key) {
  std::printf("key id:     %s\npublic key: %s\n", qx::KeyId(public_key).c_str(),
              qx::PublicKeyLine(public_key).c_str());
}

int RunNew(const std::string& path) {
  const std::string public_path = path + std::string(qx::kPublicKeySuffix);
  for (const std::string& file : {path, public_path}) {
    struct stat status;
    if (::lstat(file.c_str(), &status) == 0) {
      std::fprintf(stderr, "qxweb key new: %s already exists; a key file is never overwritten\n",
                   file.c_str());
      return kExitFailed;
    }
  }
  bool failed = false;
  const std::string passphrase = Passphrase("key new", path, true, &failed).value_or("");
  if (failed) {
    return kExitFailed;
  }
  if (passphrase.empty()) {
    const char* why = std::getenv(kPassphraseVariable) != nullptr ? " is empty"
                      : ::isatty(STDIN_FILENO) != 0               ? " is not set and none was typed"
                                                    : " is not set and stdin is no terminal";
    std::fprintf(stderr, "qxweb key new: no passphrase (%s%s): %s is not encrypted\n",
                 kPassphraseVariable, why, path.c_str());
  }
  const qx::SignatureResult<qx::SigningKey> key = qx::MakeSigningKey();
  const std::string problem =
      key.ok() ? qx::SaveSigningKey(key.value, path, passphrase) : key.error;
  if (!problem.empty()) {
    std::fprintf(stderr, "qxweb key new: %s\n", problem.c_str());
    return kExitFailed;
  }
  PrintKey(key.value.public_key());
  std::printf("secret key: %s (%s)\npublic key file: %s\n", path.c_str(),
              passphrase.empty() ? "not encrypted" : "encrypted", public_path.c_str());
  return kExitOk;
}

int RunShow(const std::string& path) {
  const auto fail = [](const std::string& problem) {
    std::fprintf(stderr, "qxweb key show: %s\n", problem.c_str());
    return kExitFailed;
  };
  const std::string_view suffix = qx::kPublicKeySuffix;
  if (path.size() > suffix.size() &&
      path.compare(path.size() - suffix.size(), suffix.size(), suffix.data()) == 0) {
    const qx::SignatureResult<std::string> key = qx::ReadPublicKeyFile(path);
    if (!key.ok()) {
      return fail(key.error);
    }
    PrintKey(key.value);
    return kExitOk;
  }
  const qx::SigningKey key = LoadSecretKeyFile("key show", path);
  if (key.empty()) {
    return kExitFailed;
  }
  PrintKey(key.public_key());
  return kExitOk;
}

}  // namespace

void AddKeyCommand(CLI::App& app, int& status) {
  auto* key = app.add_subcommand(
      "key", "Signing keys for packages: make a key pair, show a key's id and public key line");
  key->require_subcommand(1);
  auto path = std::make_shared<std::string>();
  auto* make = key->add_subcommand(
      "new",
      std::string("Make an Ed25519 key pair: the secret key FILE (mode 0600, PKCS#8 PEM) and its "
                  "public key line FILE.pub; neither may exist. The secret key is encrypted with "
                  "the passphrase in $") +
          kPassphraseVariable +
          " when it is set (empty: not encrypted), else with one asked on the terminal, else "
          "not at all");
  make->add_option("FILE", *path, "Secret key file to write")->required();
  make->callback([&status, path] {
    status = RunNew(*path);
    std::fflush(stdout);
  });
  auto* show = key->add_subcommand(
      "show", std::string("Print the key id and public key line of a public key file "
                          "(FILE.pub) or of a secret key file, whose passphrase comes from $") +
                  kPassphraseVariable + " or the terminal when it is encrypted");
  show->add_option("FILE", *path, "Key file: a secret key or a .pub file")->required();
  show->callback([&status, path] {
    status = RunShow(*path);
    std::fflush(stdout);
  });
}

}  // namespace qxweb_tool
