#pragma once

// A re-seal keeps the stored files of the package an earlier seal left in
// the put-to directory when neither their sources nor they have changed
// since. Sealer engine, without a window.

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "core/format/header_reader.h"
#include "sealer/project/seal_plan.h"

namespace qx {

struct StoredFile;

class EarlierPackage {
 public:
  // Reads "<put_to>/<appl_name>.qxw". Nothing is kept unless it is there,
  // verifies, and was sealed under the same ApplName.
  EarlierPackage(const std::string& put_to, const std::string& appl_name);
  // No earlier package: nothing is kept.
  EarlierPackage() = default;

  // Whether the stored file of |item| in the put-to directory can be kept as
  // it stands: the earlier header has an entry of its name and kind (named
  // file or list file), the source had, when the plan was made, the entry's
  // Size and last-write Time and Date, and the stored file has the source's
  // exact last-write time, the entry's Length and the entry's digest. Then
  // |stored| receives what sealing the source again would give. Safe to call
  // from several threads at once.
  bool Keep(const SealPlanItem& item, StoredFile& stored) const;

 private:
  std::unique_ptr<PackageHeader> record_;
  std::unordered_map<std::string_view, const FileEntry*> entries_;
};

}  // namespace qx
