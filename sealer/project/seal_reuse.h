#pragma once

// A re-seal keeps the stored files of the package an earlier seal left in
// the put-to directory when neither their sources nor they have changed
// since. Sealer engine, without a window.

#include <sys/stat.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "core/format/header_reader.h"
#include "sealer/project/seal_engine.h"
#include "sealer/project/seal_plan.h"

namespace qx {

class EarlierPackage {
 public:
  // Reads "<put_to>/<appl_name>.qxw". Nothing is kept unless it is there,
  // verifies, and was sealed under the same ApplName.
  EarlierPackage(const std::string& put_to, const std::string& appl_name);
  // No earlier package: nothing is kept.
  EarlierPackage() = default;
  // Stops the checks ahead, if any.
  ~EarlierPackage();
  EarlierPackage(const EarlierPackage&) = delete;
  EarlierPackage& operator=(const EarlierPackage&) = delete;

  // Whether the stored file of |item| in the put-to directory can be kept as
  // it stands: the earlier header has an entry of its name and kind (named
  // file or list file), the source had, when the plan was made, the entry's
  // Size and last-write Time and Date, and the stored file has the source's
  // exact last-write time, the entry's Length and the entry's digest. Then
  // |stored| receives what sealing the source again would give. Safe to call
  // from several threads at once. An item of the plan checked ahead takes
  // the answer found then.
  bool Keep(const SealPlanItem& item, StoredFile& stored) const;

  // Starts checking every file of |plan| on |jobs| threads of their own, so
  // that the checks run while the seal checks its plan and begins its
  // staging. |plan| must outlive this object and keep its items in place.
  void CheckAhead(const SealPlan& plan, int jobs);
  // Waits for the checks ahead, if any, to end. False when what was read no
  // longer holds because the earlier header was replaced (or appeared)
  // since: the caller then reads the package again.
  bool FinishAhead();

 private:
  // What checking one plan item ahead found.
  struct AheadResult {
    bool kept = false;
    StoredFile stored;
  };

  bool KeepNow(const SealPlanItem& item, StoredFile& stored) const;
  void RunAhead();
  void StopAhead();

  std::string header_path_;
  std::unique_ptr<PackageHeader> record_;
  std::unordered_map<std::string_view, const FileEntry*> entries_;
  // The earlier header as it was read (header_found_ false: there was none).
  bool header_found_ = false;
  struct stat header_info_ {};

  const SealPlan* ahead_plan_ = nullptr;
  std::vector<AheadResult> ahead_;
  std::atomic<size_t> ahead_next_{0};
  std::atomic<bool> ahead_stop_{false};
  bool ahead_done_ = false;  // every item of |ahead_| was checked
  std::vector<std::thread> ahead_threads_;
};

}  // namespace qx
