#pragma once

// The signing key of the session: a secret key file loaded once, its
// passphrase asked only when the file is encrypted, and kept until the path
// or the file changes. Sealer window.

#include <sys/types.h>

#include <ctime>
#include <string>

#include "core/signature/signing_key.h"

class QWidget;

namespace qx::ui {

class SessionKeys {
 public:
  enum class Outcome { kLoaded, kCancelled, kFailed };
  struct Result {
    Outcome outcome = Outcome::kFailed;
    SigningKey key;     // when loaded
    std::string error;  // when failed: what is wrong with the file, without its path
  };

  // The key of the secret key file |path|: the one kept when it is the same
  // file, unchanged, else the file loaded anew, asking its passphrase over
  // |owner| when it is encrypted. A key loaded is kept in place of the last.
  Result Load(QWidget* owner, const std::string& path);
  // Drops the key kept.
  void Forget();
  // Whether a key is kept for |path|.
  bool Holds(const std::string& path) const { return !key_.empty() && path_ == path; }

 private:
  // What tells one state of a file from another.
  struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    struct timespec modified {};
    bool operator==(const FileIdentity& other) const;
  };
  static bool Identify(const std::string& path, FileIdentity& identity);

  std::string path_;
  FileIdentity identity_;
  SigningKey key_;
};

// The key id of |key|, for the messages that name it.
std::string KeyIdOf(const SigningKey& key);

}  // namespace qx::ui
