// The Seal command: runs the seal plan into the put-to directory, the
// header last under a temporary name. Sealer engine, without a window.
#include "sealer/project/seal_engine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "core/compress/codec.h"
#include "core/digest/secure_digest.h"
#include "core/format/header_reader.h"
#include "core/format/landing_page.h"
#include "core/fsutil/directory_tree.h"
#include "core/fsutil/file_times.h"
#include "core/fsutil/path_text.h"
#include "core/platform/file_handle.h"
#include "core/signature/sha256.h"
#include "sealer/project/project_header.h"
#include "sealer/project/seal_check.h"
#include "sealer/project/seal_reuse.h"
#include "sealer/project/seal_signature.h"
#include "sealer/project/seal_staging.h"
#include "sealer/project/seal_workers.h"
#include "sealer/project/sealer_messages.h"

namespace qx {

namespace {

// Every file of the list is entered under this version; only the named files
// carry the package's own.
constexpr std::string_view kListFileVersion = "01.00.00";

bool FileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

// Sets |stored|'s SHA-256 to that of the file |path|. False after a message.
bool HashStoredFile(const std::string& path, StoredFile& stored) {
  SignatureResult<std::string> sha256 = Sha256OfFile(path);
  if (!sha256.ok()) {
    ErrorBox("Unable to sign " + path + ": " + sha256.error);
    return false;
  }
  stored.sha256 = std::move(sha256.value);
  return true;
}

// Marks a seal as running for the life of the command.
class SealRunning {
 public:
  explicit SealRunning(SealerState& state) : state_(state) { state_.seal_running = true; }
  ~SealRunning() { state_.seal_running = false; }
  SealRunning(const SealRunning&) = delete;
  SealRunning& operator=(const SealRunning&) = delete;

 private:
  SealerState& state_;
};

// Whether the client's reader takes an entry's lines whole: each line fits
// its line buffer and the joined entry text fits its capacity.
bool EntryFitsReader(const std::array<std::string, 3>& lines) {
  size_t joined = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].size() > kMaxHeaderLine) {
      return false;
    }
    std::string_view part = DigestedText(lines[i]);
    if (i == 0) {
      part = part.substr(part.find(':') + 1);
    }
    part = SkipBlanks(part);
    if (!part.empty() && IsPathSeparator(part.back())) {
      part.remove_suffix(1);
    }
    joined += part.size();
  }
  return joined <= kMaxEntryText;
}

void ShowSealComplete(const SealerProject& project, FormView& view) {
  CurrentUserInterface().ShowMessageBox({view.Owner(),
                                         "The " + project.appl_name + " package seal is complete.",
                                         kSealerCaption, BoxIcon::kNone, BoxButtons::kOk});
}

// Opens a source for reading without ever blocking on it: a FIFO or a
// device named in the list would hang the seal, so only a regular file is
// taken. Null after a message.
FilePtr OpenRegularSource(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    ErrorBox("Unable to open source file " + path);
    return nullptr;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    ::close(fd);
    ErrorBox("Unable to seal " + path + ": it is not a regular file");
    return nullptr;
  }
  FilePtr file(::fdopen(fd, "rb"));
  if (!file) {
    ::close(fd);
    ErrorBox("Unable to open source file " + path);
  }
  return file;
}

}  // namespace

bool MakeLandingPage(const SealerProject& project, FormView& view, bool* stop_requested) {
  const std::string path = JoinNativePath(project.put_to, LandingPageFileName(project.appl_name));
  // The author may have edited the page; it is never rewritten.
  if (FileExists(path)) {
    return true;
  }
  const bool stop = view.ProgressStep("Creating HTM file " + path + " ...", nullptr);
  if (stop_requested != nullptr) {
    *stop_requested = stop;
  }
  FilePtr file(std::fopen(path.c_str(), "wb"));
  if (!file) {
    InfoBox(view.Owner(), "Unable to create application HTM file " + path);
    return false;
  }
  const int written =
      WriteLandingPage(file.get(), project.comment.c_str(), project.appl_name.c_str());
  if (!CloseChecked(file) || written != 0) {
    // A page that exists is never written again, so a broken one must not stay.
    std::remove(path.c_str());
    InfoBox(view.Owner(), "Unable to write to application HTM file " + path);
    return false;
  }
  return true;
}

bool StoreFile(bool compress, const std::string& source_path, const std::string& output_path,
               std::string_view key, StoredFile& stored) {
  FilePtr source = OpenRegularSource(source_path);
  if (!source) {
    return false;
  }
  FilePtr output(std::fopen(output_path.c_str(), "wb"));
  if (!output) {
    ErrorBox("Unable to create output file " + output_path);
    return false;
  }
  const std::string key_text(key);
  char digest[kDigestBufferSize] = {};
  if (compress) {
    // The codec works on the descriptors: nothing may be buffered in the
    // streams before the call.
    if (CompressFile(source.get(), output.get(), true, &stored.length, &stored.size, digest,
                     sizeof digest, key_text.c_str()) != kCodecOk) {
      ErrorBox("Unable to compress and MD5 file " + output_path);
      return false;
    }
  } else {
    int64_t copied = 0;
    if (DigestCopyFile(source.get(), output.get(), &copied, digest, sizeof digest,
                       key_text.c_str()) != kCopyOk) {
      output.reset();
      std::remove(output_path.c_str());
      ErrorBox("Unable to MD5 file " + output_path);
      return false;
    }
    stored.length = copied;
    stored.size = copied;
  }
  // The publication waits until every staged byte is on the disk: starting
  // the write now lets the disk work while the next files are compressed.
  ::sync_file_range(::fileno(output.get()), 0, 0, SYNC_FILE_RANGE_WRITE);
  // Every byte has reached the descriptor, so the times set now stay.
  CopyFileTimes(::fileno(source.get()), ::fileno(output.get()), &stored.date_text,
                &stored.time_text);
  source.reset();
  if (!CloseChecked(output)) {
    if (!compress) {
      std::remove(output_path.c_str());
    }
    ErrorBox("Unable to write output file " + output_path);
    return false;
  }
  stored.digest.assign(digest, kDigestTextLength);
  return true;
}

bool StorePlanFile(const SealerProject& project, const SealPlanItem& item, StoredFile& stored,
                   std::string* made_directory) {
  // The name comes from a project file that anyone may have written: it must
  // not reach outside the seal-from and put-to directories.
  if (!CheckItemName(item) || item.source_path.empty()) {
    return false;
  }
  const std::string& output_path = item.output_path;
  const std::string directory = output_path.substr(0, output_path.rfind('/'));
  // The list runs directory by directory, so most files go where the one
  // before went.
  const bool made = made_directory != nullptr && *made_directory == directory;
  if (!made && item.name.find_first_of("\\/") != std::string::npos) {
    std::string created = directory;
    if (!CreateDirectoryPath(created)) {
      ErrorBox("Unable to create sub-directory for " + directory);
      return false;
    }
    if (made_directory != nullptr) {
      *made_directory = directory;
    }
  }
  return StoreFile(item.kind != SealItemKind::kNamedFile, item.source_path, output_path,
                   project.appl_name, stored);
}

bool WriteFileEntries(const SealerProject& project, const SealPlan& plan, FormView& view,
                      HeaderLineWriter& header, int jobs, const EarlierPackage& earlier,
                      SealSignatureFiles* signing) {
  bool stop = false;
  MakeLandingPage(project, view, &stop);
  if (stop) {
    return false;
  }
  // A stored file is hashed once more on its worker, while its bytes are
  // still in the page cache; a kept one only when the earlier signature
  // does not vouch for it.
  SealWorkers workers(
      plan, jobs, [&](const SealPlanItem& item, StoredFile& stored, std::string& made) {
        if (earlier.Keep(item, stored)) {
          if (signing == nullptr) {
            return true;
          }
          if (const std::string* sha256 = signing->earlier.KeptSha256(item.name, stored.length)) {
            stored.sha256 = *sha256;
            return true;
          }
          return HashStoredFile(JoinNativePath(project.put_to, item.name), stored);
        }
        return StorePlanFile(project, item, stored, &made) &&
               (signing == nullptr || HashStoredFile(item.output_path, stored));
      });
  SealProgress progress;
  progress.count = plan.file_count;
  progress.total_bytes = plan.total_bytes;
  for (size_t i = 0; i < plan.items.size(); ++i) {
    const SealPlanItem& item = plan.items[i];
    if (item.kind == SealItemKind::kComment) {
      header.WriteLine(item.text, false);
      if (!header.ok()) {
        return false;
      }
      continue;
    }
    // A list line is shown without its trailing comment.
    const bool named = item.kind == SealItemKind::kNamedFile;
    const std::string_view shown = std::string_view(item.text).substr(
        0, named ? std::string_view::npos : item.text.find(kCommentMark));
    progress.name = item.name;
    progress.bytes = item.bytes;
    StoredFile stored;
    if (view.ProgressStep("Sealing " + std::string(shown) + " ...", &progress) ||
        !workers.Take(i, stored)) {
      return false;
    }
    const std::array<std::string, 3> lines =
        SealerEntryLines(item.name, stored.time_text, stored.date_text,
                         named ? std::string_view(project.version) : kListFileVersion,
                         stored.length, stored.size, stored.digest);
    // A client would read a cut entry and never find the file it names.
    if (!EntryFitsReader(lines)) {
      ErrorBox("File name " + item.name + " is too long for the package header");
      return false;
    }
    header.WriteEntryLines(lines);
    if (!header.ok()) {
      return false;
    }
    if (signing != nullptr) {
      signing->files.push_back({item.name, stored.length, std::move(stored.sha256)});
    }
    ++progress.index;
    progress.done_bytes += item.bytes;
  }
  return true;
}

bool WritePackage(SealerProject& project, FormView& view, const std::string& header_path,
                  const SealOptions& options) {
  DigestPtr digest = DigestNew();
  if (!digest) {
    ErrorBox("Unable to create MD5 buffer");
    return false;
  }
  // Checked before anything is created, so a refused form or plan changes
  // nothing.
  if (!CollectForm(project, view, true)) {
    return false;
  }
  SealPlan plan = MakeSealPlan(project, view.FileList());
  if (!CheckSealPlan(project, plan, view)) {
    return false;
  }
  // Everything new is staged and published only when the whole run has
  // succeeded, so a failed, cancelled or killed run leaves the earlier
  // package as it was.
  SealStaging staging(project.put_to, project.appl_name);
  if (!staging.Begin()) {
    return false;
  }
  for (SealPlanItem& item : plan.items) {
    if (!item.output_path.empty()) {
      item.output_path = staging.StagedPath(item.name);
    }
  }
  // Clients that pinned the key of a signed package refuse an unsigned
  // version; checked once the staging has finished what an earlier run
  // began, and before anything is written.
  const std::string signature_path = header_path + std::string(kSignatureSuffix);
  const bool signing = !options.signing_key.empty();
  struct stat published_signature {};
  if (!signing && ::lstat(signature_path.c_str(), &published_signature) == 0) {
    if (!options.drop_signature) {
      ErrorBox(signature_path +
               " signs this package: sealed without a key, every client that pinned the key "
               "would refuse the new version as a downgrade (seal with a key, or unsigned to "
               "remove the signature)");
      return false;
    }
    staging.DropSignature();
  }
  // Read once the staging has finished whatever an earlier run left.
  std::optional<EarlierSignature> earlier_signature;
  std::optional<uint64_t> sequence;
  if (signing) {
    earlier_signature.emplace(signature_path, options.signing_key.public_key());
    sequence = earlier_signature->NextSequence(static_cast<uint64_t>(std::time(nullptr)));
    if (!sequence) {
      ErrorBox(signature_path + " has the last sequence a signature can have");
      return false;
    }
  }
  const EarlierPackage earlier_package =
      options.reuse ? EarlierPackage(project.put_to, project.appl_name) : EarlierPackage();
  FilePtr file(std::fopen(staging.header_path().c_str(), "wb"));
  if (!file) {
    ErrorBox("Unable to create " + header_path + " file");
    return false;
  }
  // The new header keeps the permissions the author gave the earlier one.
  struct stat earlier {};
  if (::stat(header_path.c_str(), &earlier) == 0) {
    ::fchmod(::fileno(file.get()), earlier.st_mode & 07777);
  }
  const std::string write_failed = "Unable to write " + header_path + " file";
  HeaderLineWriter header(file.get(), digest.get());
  if (!WriteHeaderLines(header, project, true)) {
    ErrorBox(write_failed);
    return false;
  }
  const int jobs = options.jobs > 0 ? options.jobs : AvailableProcessors();
  std::optional<SealSignatureFiles> signed_files;
  if (signing) {
    signed_files.emplace(SealSignatureFiles{*earlier_signature, {}});
  }
  if (!WriteFileEntries(project, plan, view, header, jobs, earlier_package,
                        signed_files ? &*signed_files : nullptr)) {
    // Every other failure has shown its own message.
    if (!header.ok()) {
      ErrorBox(write_failed);
    }
    return false;
  }
  char trailer[kDigestBufferSize] = {};
  if (SecureDigest(digest.get(), trailer, sizeof trailer, project.date.c_str()) != kDigestOk) {
    ErrorBox("Error in get MD5 code");
    return false;
  }
  header.WriteLine(TrailerLine(std::string_view(trailer, kDigestTextLength)), false);
  if (!header.ok() || !CloseChecked(file)) {
    ErrorBox(write_failed);
    return false;
  }
  if (signing && !WriteSealSignature(options.signing_key, *sequence, staging.header_path(),
                                     std::move(signed_files->files), staging.SignaturePath())) {
    return false;
  }
  return staging.Publish();
}

bool SealCommand(SealerState& state, FormView& view) {
  if (RefuseWhileSealing(state)) {
    return false;
  }
  SealRunning running(state);
  SealerProject& project = state.project;
  project.appl_name = CutToWidth(view.FieldText(FormControl::kName), kApplNameWidth);
  if (project.appl_name.empty()) {
    return RefuseEmptyField(view, FormControl::kName);
  }
  project.put_to = CutToWidth(view.FieldText(FormControl::kPutTo), kDirectoryWidth);
  if (project.put_to.empty()) {
    return RefuseEmptyField(view, FormControl::kPutTo);
  }
  // A missing put-to directory is offered for creation only once the whole
  // form has passed its checks.
  const std::string header_path = JoinNativePath(project.put_to, HeaderFileName(project.appl_name));
  const bool sealed = WritePackage(project, view, header_path, state.seal_options);
  // The record now holds the form's values and the day's date.
  state.project_modified = true;
  if (!sealed) {
    return false;
  }
  ShowSealComplete(project, view);
  return true;
}

}  // namespace qx
