// The session's signing key over the secret key files.
#include "sealer/ui/session_keys.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>

#include "sealer/ui/sealer_dialogs.h"

namespace qx::ui {

namespace {

// The library's errors begin with the file's path; the messages name the
// file themselves.
std::string WithoutPath(const std::string& error, const std::string& path) {
  const std::string prefix = path + ": ";
  return error.compare(0, prefix.size(), prefix) == 0 ? error.substr(prefix.size()) : error;
}

}  // namespace

bool SessionKeys::FileIdentity::operator==(const FileIdentity& other) const {
  return device == other.device && inode == other.inode && size == other.size &&
         modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
}

bool SessionKeys::Identify(const std::string& path, FileIdentity& identity) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    return false;
  }
  identity.device = status.st_dev;
  identity.inode = status.st_ino;
  identity.size = status.st_size;
  identity.modified = status.st_mtim;
  return true;
}

SessionKeys::Result SessionKeys::Load(QWidget* owner, const std::string& path) {
  Result result;
  FileIdentity identity;
  if (!Identify(path, identity)) {
    result.error = std::strerror(errno);
    return result;
  }
  // A file replaced or rewritten since is loaded again: it may hold another key.
  if (Holds(path) && identity == identity_) {
    result.outcome = Outcome::kLoaded;
    result.key = key_;
    return result;
  }
  const SignatureResult<bool> encrypted = SigningKeyIsEncrypted(path);
  if (!encrypted.ok()) {
    result.error = WithoutPath(encrypted.error, path);
    return result;
  }
  std::string passphrase;
  if (encrypted.value) {
    std::optional<std::string> typed = AskKeyPassphrase(owner, path);
    if (!typed) {
      result.outcome = Outcome::kCancelled;
      return result;
    }
    passphrase = std::move(*typed);
  }
  const SignatureResult<SigningKey> loaded = LoadSigningKey(path, passphrase);
  std::fill(passphrase.begin(), passphrase.end(), '\0');
  if (!loaded.ok()) {
    result.error = WithoutPath(loaded.error, path);
    return result;
  }
  path_ = path;
  identity_ = identity;
  key_ = loaded.value;
  result.outcome = Outcome::kLoaded;
  result.key = key_;
  return result;
}

void SessionKeys::Forget() {
  path_.clear();
  identity_ = {};
  key_ = {};
}

std::string KeyIdOf(const SigningKey& key) {
  return KeyId(key.public_key());
}

}  // namespace qx::ui
