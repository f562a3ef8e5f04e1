#pragma once

// The seal: the package header, the landing page and every stored file
// written into the put-to directory by running the seal plan on worker
// threads, keeping what an earlier seal stored and nothing has changed
// since. Sealer engine, without a window.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/format/header_lines.h"
#include "core/platform/result.h"
#include "core/signature/package_signature.h"
#include "sealer/project/seal_plan.h"
#include "sealer/project/seal_request.h"
#include "sealer/project/sealer_project.h"
#include "sealer/project/sealer_state.h"

namespace qx {

class EarlierPackage;
class EarlierSignature;

// What StoreFile reports of a stored file.
struct StoredFile {
  std::string time_text;  // the source's last-write time, "HH:MM:SS"
  std::string date_text;  // and its date, "MM/DD/YYYY"
  int64_t length = 0;     // bytes as stored
  int64_t size = 0;       // bytes of the source
  std::string digest;     // secure digest of the stored bytes, keyed by |key|
  std::string sha256;     // SHA-256 of the stored bytes, when the seal signs
  // What the codec said while it stored the file; empty unless it failed.
  std::vector<std::string> codec_messages;
};

// What a signed seal gathers while it stores the files: the earlier
// signature, which gives the SHA-256 of kept files, and each stored file's
// line of the new one, in plan order.
struct SealSignatureFiles {
  const EarlierSignature& earlier;
  std::vector<SignedFile> files;
};

// Checks |project|'s fields (with their fixed values set) and the plan of
// |file_list|, then writes the landing page, every stored file, the header
// (which goes to |header_path|) and, when |options| ask for it, the install
// page. The files are staged and published only when the whole run
// succeeded.
Result<void> WritePackage(SealerProject& project, const std::vector<std::string>& file_list,
                          SealObserver& observer, const std::string& header_path,
                          const SealOptions& options = {});

// Writes the landing page when it is missing, then runs |plan|: each file
// kept from |earlier| or stored (on |jobs| threads), its entry written, and
// each comment line copied, into |header| in plan order. The error of the
// first failure in plan order, or kSealCancelled when Cancel was asked; the
// files in flight then finish and no more are started. With |signing|, each
// file's SHA-256 is taken too and its line added there. |stored_bytes|, when
// given, receives the sum of the stored files' Lengths.
Result<void> WriteFileEntries(const SealerProject& project, const SealPlan& plan,
                              SealObserver& observer, HeaderLineWriter& header, int jobs,
                              const EarlierPackage& earlier, SealSignatureFiles* signing = nullptr,
                              int64_t* stored_bytes = nullptr);

// Stores the file of one plan item; safe on any thread. |made_directory|,
// when given, holds the output directory made last, which is then not made
// again.
Result<void> StorePlanFile(const SealerProject& project, const SealPlanItem& item,
                           StoredFile& stored, std::string* made_directory = nullptr);

// Copies |source_path| to |output_path|, compressed or unchanged, digesting
// the stored bytes with |key|, and gives the output the source's times.
Result<void> StoreFile(bool compress, const std::string& source_path,
                       const std::string& output_path, std::string_view key, StoredFile& stored);

// Writes "<PutTo>/<ApplName>.htm" unless a file of that name exists; a
// kSealNotice error when it had to be written and could not be.
// |stop_requested| (may be null) is set when Cancel was asked meanwhile.
Result<void> MakeLandingPage(const SealerProject& project, SealObserver& observer,
                             bool* stop_requested = nullptr);

}  // namespace qx
