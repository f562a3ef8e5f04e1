// The passphrase of a secret key file and loading the key with it, for
// "qxweb key" and "qxweb seal --sign". Command-line program.
#include "tools/qxweb/key_passphrase.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace qxweb_tool {

namespace {

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

}  // namespace

std::optional<std::string> Passphrase(const std::string& command, const std::string& file,
                                      bool confirm, bool* failed) {
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
    std::fprintf(stderr, "qxweb %s: %s\n", command.c_str(),
                 first && second ? "the passphrases differ"
                                 : "the passphrase could not be read or is too long");
    *failed = true;
    return std::nullopt;
  }
  return first;
}

qx::SigningKey LoadSecretKeyFile(const std::string& command, const std::string& path) {
  const auto fail = [&](const std::string& problem) {
    std::fprintf(stderr, "qxweb %s: %s\n", command.c_str(), problem.c_str());
    return qx::SigningKey();
  };
  const qx::SignatureResult<bool> encrypted = qx::SigningKeyIsEncrypted(path);
  if (!encrypted.ok()) {
    return fail(encrypted.error);
  }
  // The public half of an encrypted key is inside the encryption.
  std::string passphrase;
  if (encrypted.value) {
    bool failed = false;
    const std::optional<std::string> given = Passphrase(command, path, false, &failed);
    if (failed) {
      return {};
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
  return key.value;
}

}  // namespace qxweb_tool
