// qxweb key: makes a signing key pair and shows the id of a key file.
// Command-line program.
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "core/signature/signing_key.h"
#include "tools/qxweb/commands.h"

namespace qxweb_tool {

namespace {

constexpr char kPassphraseVariable[] = "QXWEB_KEY_PASSPHRASE";

// The terminal's settings while a passphrase is read without echo, put back
// when a signal ends the program meanwhile.
struct termios g_echoing_terminal;

void RestoreTerminalAndEnd(int signal_number) {
  ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_echoing_terminal);
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

// One line typed on the terminal on stdin without echo, after |prompt| on
// stderr; nothing when it cannot be read.
std::optional<std::string> ReadHidden(const char* prompt) {
  if (::tcgetattr(STDIN_FILENO, &g_echoing_terminal) != 0) {
    return std::nullopt;
  }
  struct sigaction restore {};
  restore.sa_handler = &RestoreTerminalAndEnd;
  struct sigaction old_interrupt {};
  struct sigaction old_terminate {};
  ::sigaction(SIGINT, &restore, &old_interrupt);
  ::sigaction(SIGTERM, &restore, &old_terminate);
  struct termios quiet = g_echoing_terminal;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  quiet.c_lflag |= ECHONL;
  std::fputs(prompt, stderr);
  std::fflush(stderr);
  std::optional<std::string> line;
  if (::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0) {
    std::string text(qx::kMaxPassphraseBytes + 2, '\0');
    if (std::fgets(text.data(), static_cast<int>(text.size()), stdin) != nullptr) {
      text.resize(text.find('\0'));
      if (!text.empty() && text.back() == '\n') {
        text.pop_back();
      }
      if (text.size() <= qx::kMaxPassphraseBytes) {
        line = text;
      }
    }
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_echoing_terminal);
  }
  ::sigaction(SIGINT, &old_interrupt, nullptr);
  ::sigaction(SIGTERM, &old_terminate, nullptr);
  return line;
}

// The passphrase: the environment's, else asked on the terminal (twice when
// |confirm|), else none (nothing when no terminal can be asked). An error is
// printed and "failed" set when the answers differ or cannot be read.
std::optional<std::string> Passphrase(const char* command, const std::string& file, bool confirm,
                                      bool* failed) {
  if (const char* value = std::getenv(kPassphraseVariable); value != nullptr) {
    return std::string(value);
  }
  if (::isatty(STDIN_FILENO) == 0) {
    return std::nullopt;
  }
  const std::string prompt = "Passphrase for " + file + (confirm ? " (empty for none): " : ": ");
  const std::optional<std::string> first = ReadHidden(prompt.c_str());
  const std::optional<std::string> second =
      first && confirm ? ReadHidden("The same passphrase again: ") : first;
  if (!first || !second || *first != *second) {
    std::fprintf(stderr, "qxweb key %s: %s\n", command,
                 first && second ? "the passphrases differ"
                                 : "the passphrase could not be read or is too long");
    *failed = true;
    return std::nullopt;
  }
  return first;
}

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
  const std::string passphrase = Passphrase("new", path, true, &failed).value_or("");
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
  const qx::SignatureResult<bool> encrypted = qx::SigningKeyIsEncrypted(path);
  if (!encrypted.ok()) {
    return fail(encrypted.error);
  }
  // The public half of an encrypted key is inside the encryption.
  std::string passphrase;
  if (encrypted.value) {
    bool failed = false;
    const std::optional<std::string> given = Passphrase("show", path, false, &failed);
    if (failed) {
      return kExitFailed;
    }
    if (!given) {
      return fail(path + " is encrypted: set " + kPassphraseVariable + " or run on a terminal");
    }
    passphrase = *given;
  }
  const qx::SignatureResult<qx::SigningKey> key = qx::LoadSigningKey(path, passphrase);
  if (!key.ok()) {
    return fail(key.error);
  }
  PrintKey(key.value.public_key());
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
