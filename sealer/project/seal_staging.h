#pragma once

// A seal's new files are written into a staging directory inside the put-to
// directory and published only when the whole run has succeeded: stored
// files renamed into place, then the signature, then the header. The put-to
// directory is what a
// web server publishes, so until then every client sees the earlier package
// byte for byte. Sealer engine, without a window.
//
// The staging directory ".NAME.seal" holds "files/" (the stored files under
// their entry names), "NAME.qxw" (the new header), "NAME.qxw.sig" (its
// signature, when signed) or the empty marker "unsign" (the published
// signature is removed), "NAME-install.html" (the install page, when asked
// for) and, once the publication has begun, the empty marker "publish". A run killed before the
// marker leaves a staging directory that the next seal removes; one killed after it leaves a
// publication that the next seal finishes before it starts.

#include <string>
#include <string_view>

#include "core/platform/result.h"

namespace qx {

// ".NAME.seal", the staging directory's name inside the put-to directory.
std::string StagingDirectoryName(std::string_view appl_name);

// Finishes a publication that a killed seal of |appl_name| began in
// |put_to|, or removes what a seal killed earlier left: its staging
// directory and temporary headers ".NAME.qxw.XXXXXX". An error when
// something is left over.
Result<void> RecoverSealStaging(const std::string& put_to, const std::string& appl_name);

class SealStaging {
 public:
  SealStaging(std::string put_to, std::string appl_name);
  // Removes the staging directory unless the publication has begun.
  ~SealStaging();
  SealStaging(const SealStaging&) = delete;
  SealStaging& operator=(const SealStaging&) = delete;

  // Locks the put-to directory against another seal, recovers what an
  // earlier run left and makes an empty staging directory.
  Result<void> Begin();

  // Where the stored file of entry |name| is written while staged.
  std::string StagedPath(std::string_view name) const;
  // Where the new header is written while staged.
  const std::string& header_path() const { return header_path_; }
  // Where the new header's signature is written while staged.
  std::string SignaturePath() const;
  // Where the install page is written while staged.
  std::string InstallPagePath() const;
  // Has the publication remove the signature an earlier seal published.
  void DropSignature() { drop_signature_ = true; }

  // Publishes the staged files, then the signature (or removes the
  // published one when asked), the header, the install page last, and
  // removes the staging directory. Checks first that every file can take its place, so that a
  // refused publication changes nothing.
  Result<void> Publish();

 private:
  std::string put_to_;
  std::string appl_name_;
  std::string directory_;
  std::string header_path_;
  int lock_ = -1;
  bool begun_ = false;
  bool publishing_ = false;
  bool drop_signature_ = false;
};

}  // namespace qx
