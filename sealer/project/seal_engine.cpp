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
#include "core/signature/signing_key.h"
#include "sealer/project/entry_fit.h"
#include "sealer/project/install_page.h"
#include "sealer/project/project_header.h"
#include "sealer/project/seal_check.h"
#include "sealer/project/seal_request.h"
#include "sealer/project/seal_reuse.h"
#include "sealer/project/seal_signature.h"
#include "sealer/project/seal_staging.h"
#include "sealer/project/seal_workers.h"
#include "sealer/project/sealer_messages.h"

namespace qx {

namespace {

// The code WriteFileEntries gives a failed header write, which WritePackage
// names after the header.
constexpr int kHeaderWriteFailed = -1;

Error HeaderWriteFailed() {
  return Error{kHeaderWriteFailed, {}, {}};
}

Error Cancelled() {
  return Error{kSealCancelled, {}, {}};
}

// Every file of the list is entered under this version; only the named files
// carry the package's own.

bool FileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

// Sets |stored|'s SHA-256 to that of the file |path|.
Result<void> HashStoredFile(const std::string& path, StoredFile& stored) {
  SignatureResult<std::string> sha256 = Sha256OfFile(path);
  if (!sha256.ok()) {
    return SealFailure("Unable to sign " + path + ": " + sha256.error, path);
  }
  stored.sha256 = std::move(sha256.value);
  return {};
}

// Opens a source for reading without ever blocking on it: a FIFO or a
// device named in the list would hang the seal, so only a regular file is
// taken.
Result<FilePtr> OpenRegularSource(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return SealFailure("Unable to open source file " + path, path);
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return SealFailure("Unable to seal " + path + ": it is not a regular file", path);
  }
  FilePtr file(::fdopen(fd, "rb"));
  if (!file) {
    ::close(fd);
    return SealFailure("Unable to open source file " + path, path);
  }
  return file;
}

}  // namespace

SealObserver::~SealObserver() = default;

bool AnsweredObserver::Progress(std::string_view text, const SealProgress* progress) {
  return progress_ && progress_(text, progress);
}

bool AnsweredObserver::Ask(SealQuestion question, std::string_view /*text*/) {
  switch (question) {
    case SealQuestion::kCreatePutTo:
      return answers_.create_put_to;
    case SealQuestion::kRecreateList:
      return answers_.recreate_list;
  }
  return false;
}

void AnsweredObserver::Notice(const Error& error) {
  notices_.push_back(error);
}

Result<void> MakeLandingPage(const SealerProject& project, SealObserver& observer,
                             bool* stop_requested) {
  const std::string path = JoinNativePath(project.put_to, LandingPageFileName(project.appl_name));
  // The author may have edited the page; it is never rewritten.
  if (FileExists(path)) {
    return {};
  }
  const bool stop = observer.Progress("Creating HTM file " + path + " ...", nullptr);
  if (stop_requested != nullptr) {
    *stop_requested = stop;
  }
  FilePtr file(std::fopen(path.c_str(), "wb"));
  if (!file) {
    return Error{kSealNotice, "Unable to create application HTM file " + path, path};
  }
  const int written =
      WriteLandingPage(file.get(), project.comment.c_str(), project.appl_name.c_str());
  if (!CloseChecked(file) || written != 0) {
    // A page that exists is never written again, so a broken one must not stay.
    std::remove(path.c_str());
    return Error{kSealNotice, "Unable to write to application HTM file " + path, path};
  }
  return {};
}

Result<void> StoreFile(bool compress, const std::string& source_path,
                       const std::string& output_path, std::string_view key, StoredFile& stored) {
  Result<FilePtr> opened = OpenRegularSource(source_path);
  if (!opened) {
    return opened.error();
  }
  FilePtr source = std::move(opened).value();
  FilePtr output(std::fopen(output_path.c_str(), "wb"));
  if (!output) {
    return SealFailure("Unable to create output file " + output_path, output_path);
  }
  const std::string key_text(key);
  char digest[kDigestBufferSize] = {};
  if (compress) {
    // The codec works on the descriptors: nothing may be buffered in the
    // streams before the call.
    CodecRun run =
        CompressStreams(source.get(), output.get(), true, digest, sizeof digest, key_text.c_str());
    // Empty but for a failed run: no allocation for the files that go well.
    stored.codec_messages = std::move(run.messages);
    if (!run.result.ok()) {
      return SealFailure("Unable to compress and MD5 file " + output_path, output_path);
    }
    stored.length = run.stored;
    stored.size = run.expanded;
  } else {
    int64_t copied = 0;
    if (DigestCopyFile(source.get(), output.get(), &copied, digest, sizeof digest,
                       key_text.c_str()) != kCopyOk) {
      output.reset();
      std::remove(output_path.c_str());
      return SealFailure("Unable to MD5 file " + output_path, output_path);
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
    return SealFailure("Unable to write output file " + output_path, output_path);
  }
  stored.digest.assign(digest, kDigestTextLength);
  return {};
}

Result<void> StorePlanFile(const SealerProject& project, const SealPlanItem& item,
                           StoredFile& stored, std::string* made_directory) {
  // The name comes from a project file that anyone may have written: it must
  // not reach outside the seal-from and put-to directories.
  if (Result<void> name = CheckItemName(item); !name) {
    return name;
  }
  if (item.source_path.empty()) {
    return Error{kSealFailed, {}, item.name};  // refused above: nothing more to say
  }
  const std::string& output_path = item.output_path;
  const std::string directory = output_path.substr(0, output_path.rfind('/'));
  // The list runs directory by directory, so most files go where the one
  // before went.
  const bool made = made_directory != nullptr && *made_directory == directory;
  if (!made && item.name.find_first_of("\\/") != std::string::npos) {
    std::string created = directory;
    if (!CreateDirectoryPath(created)) {
      return SealFailure("Unable to create sub-directory for " + directory, directory);
    }
    if (made_directory != nullptr) {
      *made_directory = directory;
    }
  }
  return StoreFile(item.kind != SealItemKind::kNamedFile, item.source_path, output_path,
                   project.appl_name, stored);
}

Result<void> WriteFileEntries(const SealerProject& project, const SealPlan& plan,
                              SealObserver& observer, HeaderLineWriter& header, int jobs,
                              const EarlierPackage& earlier, SealSignatureFiles* signing,
                              int64_t* stored_bytes) {
  bool stop = false;
  // A page that cannot be written is noted; the package is sealed without it.
  if (Result<void> page = MakeLandingPage(project, observer, &stop); !page) {
    observer.Notice(page.error());
  }
  if (stop) {
    return Cancelled();
  }
  // A stored file is hashed once more on its worker, while its bytes are
  // still in the page cache; a kept one only when the earlier signature
  // does not vouch for it.
  SealWorkers workers(
      plan, jobs, [&](const SealPlanItem& item, StoredFile& stored, std::string& made) {
        if (earlier.Keep(item, stored)) {
          if (signing == nullptr) {
            return Result<void>();
          }
          if (const std::string* sha256 = signing->earlier.KeptSha256(item.name, stored.length)) {
            stored.sha256 = *sha256;
            return Result<void>();
          }
          return HashStoredFile(JoinNativePath(project.put_to, item.name), stored);
        }
        Result<void> done = StorePlanFile(project, item, stored, &made);
        if (!done || signing == nullptr) {
          return done;
        }
        return HashStoredFile(item.output_path, stored);
      });
  SealProgress progress;
  progress.count = plan.file_count;
  progress.total_bytes = plan.total_bytes;
  for (size_t i = 0; i < plan.items.size(); ++i) {
    const SealPlanItem& item = plan.items[i];
    if (item.kind == SealItemKind::kComment) {
      header.WriteLine(item.text, false);
      if (!header.ok()) {
        return HeaderWriteFailed();
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
    if (observer.Progress("Sealing " + std::string(shown) + " ...", &progress)) {
      return Cancelled();
    }
    Result<void> taken = workers.Take(i, stored);
    // What the codec said of a failed file comes before the failure itself.
    for (std::string& text : stored.codec_messages) {
      observer.Notice(Error{kSealFailed, std::move(text), {}});
    }
    if (!taken) {
      return taken;
    }
    const std::array<std::string, 3> lines =
        SealerEntryLines(item.name, stored.time_text, stored.date_text,
                         named ? std::string_view(project.version) : kListEntryVersion,
                         stored.length, stored.size, stored.digest);
    // A client would read a cut entry and never find the file it names.
    if (!EntryFitsReader(lines)) {
      return SealFailure(EntryNameTooLong(
          item.name, LongestEntryName(named ? std::string_view(project.version) : kListEntryVersion,
                                      stored.length, stored.size)));
    }
    header.WriteEntryLines(lines);
    if (!header.ok()) {
      return HeaderWriteFailed();
    }
    if (signing != nullptr) {
      signing->files.push_back({item.name, stored.length, std::move(stored.sha256)});
    }
    if (stored_bytes != nullptr) {
      *stored_bytes += stored.length;
    }
    ++progress.index;
    progress.done_bytes += item.bytes;
  }
  return {};
}

Result<void> WritePackage(SealerProject& project, const std::vector<std::string>& file_list,
                          SealObserver& observer, const std::string& header_path,
                          const SealOptions& options) {
  DigestPtr digest = DigestNew();
  if (!digest) {
    return SealFailure("Unable to create MD5 buffer");
  }
  // Checked before anything is created, so a refused record or plan changes
  // nothing.
  if (Result<void> fields = CheckSealFields(project, observer); !fields) {
    return fields;
  }
  CollectFixedValues(project);
  SealPlan plan = MakeSealPlan(project, file_list);
  // An empty list is refused before a missing put-to directory is offered.
  if (Result<void> files = CheckPlanHasFiles(plan); !files) {
    return files;
  }
  // A base URL the page could not name the header under is refused before
  // anything is created.
  std::string base_url;
  if (options.install_page && !options.install_page_base_url.empty()) {
    Result<std::string> checked = CheckInstallPageBaseUrl(options.install_page_base_url);
    if (!checked) {
      return checked.error();
    }
    base_url = std::move(checked).value();
  }
  if (Result<void> created = OfferToCreatePutTo(project.put_to, observer); !created) {
    return created;
  }
  const int jobs = options.jobs > 0 ? options.jobs : AvailableProcessors();
  // The files an earlier seal stored are checked meanwhile on threads of
  // their own; what they find holds unless the header changed before the
  // staging has begun.
  std::optional<EarlierPackage> earlier_package;
  if (options.reuse) {
    earlier_package.emplace(project.put_to, project.appl_name);
    if (jobs > 1) {
      earlier_package->CheckAhead(plan, jobs);
    }
  } else {
    earlier_package.emplace();
  }
  if (Result<void> checked = CheckSealPlan(project, plan); !checked) {
    return checked;
  }
  if (options.install_page) {
    if (Result<void> page = CheckInstallPageOutput(plan, project.appl_name); !page) {
      return page;
    }
  }
  // Everything new is staged and published only when the whole run has
  // succeeded, so a failed, cancelled or killed run leaves the earlier
  // package as it was.
  SealStaging staging(project.put_to, project.appl_name);
  if (Result<void> begun = staging.Begin(); !begun) {
    return begun;
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
      return SealFailure(
          signature_path +
              " signs this package: sealed without a key, every client that pinned the key "
              "would refuse the new version as a downgrade (seal with a key, or unsigned to "
              "remove the signature)",
          signature_path);
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
      return SealFailure(signature_path + " has the last sequence a signature can have",
                         signature_path);
    }
  }
  if (options.reuse && !earlier_package->FinishAhead()) {
    earlier_package.emplace(project.put_to, project.appl_name);
  }
  FilePtr file(std::fopen(staging.header_path().c_str(), "wb"));
  if (!file) {
    return SealFailure("Unable to create " + header_path + " file", header_path);
  }
  // The new header keeps the permissions the author gave the earlier one.
  struct stat earlier {};
  if (::stat(header_path.c_str(), &earlier) == 0) {
    ::fchmod(::fileno(file.get()), earlier.st_mode & 07777);
  }
  const Error write_failed = SealFailure("Unable to write " + header_path + " file", header_path);
  HeaderLineWriter header(file.get(), digest.get());
  if (!WriteHeaderLines(header, project, true)) {
    return write_failed;
  }
  std::optional<SealSignatureFiles> signed_files;
  if (signing) {
    signed_files.emplace(SealSignatureFiles{*earlier_signature, {}});
  }
  int64_t stored_bytes = 0;
  if (Result<void> entries =
          WriteFileEntries(project, plan, observer, header, jobs, *earlier_package,
                           signed_files ? &*signed_files : nullptr, &stored_bytes);
      !entries) {
    // The writer's failure is named after the header's final path.
    return entries.error().code == kHeaderWriteFailed ? Result<void>(write_failed) : entries;
  }
  char trailer[kDigestBufferSize] = {};
  if (SecureDigest(digest.get(), trailer, sizeof trailer, project.date.c_str()) != kDigestOk) {
    return SealFailure("Error in get MD5 code");
  }
  header.WriteLine(TrailerLine(std::string_view(trailer, kDigestTextLength)), false);
  if (!header.ok() || !CloseChecked(file)) {
    return write_failed;
  }
  if (signing) {
    if (Result<void> signed_package =
            WriteSealSignature(options.signing_key, *sequence, staging.header_path(),
                               std::move(signed_files->files), staging.SignaturePath());
        !signed_package) {
      return signed_package;
    }
  }
  if (options.install_page) {
    const std::string page_path =
        JoinNativePath(project.put_to, InstallPageFileName(project.appl_name));
    if (observer.Progress("Creating install page " + page_path + " ...", nullptr)) {
      return Cancelled();
    }
    InstallPageFacts facts;
    facts.appl_name = project.appl_name;
    facts.version = project.version;
    facts.owner = project.owner;
    facts.stored_bytes = stored_bytes;
    facts.key_id = signing ? KeyId(options.signing_key.public_key()) : std::string();
    facts.base_url = base_url;
    if (Result<void> page =
            WriteInstallPage(facts, staging.InstallPagePath(), page_path, page_path);
        !page) {
      return page;
    }
  }
  return staging.Publish();
}

Result<SealAnswers> AskSealQuestions(const Project& project, SealObserver& observer) {
  SealerProject record = project.record;
  if (Result<void> fields = CheckSealFields(record, observer); !fields) {
    return fields.error();
  }
  CollectFixedValues(record);
  if (Result<void> files = CheckPlanHasFiles(MakeSealPlan(record, project.file_list)); !files) {
    return files.error();
  }
  SealAnswers answers;
  if (!DirectoryExists(record.put_to)) {
    if (!observer.Ask(SealQuestion::kCreatePutTo, CreatePutToQuestion(record.put_to))) {
      return Error{kSealDeclined, {}, "PutTo"};
    }
    answers.create_put_to = true;
  }
  return answers;
}

Result<SealedPackage> Seal(const Project& project, const SealOptions& options,
                           SealObserver& observer) {
  SealedPackage sealed;
  sealed.record = project.record;
  SealerProject& record = sealed.record;
  if (record.appl_name.empty()) {
    return Error{kSealFieldMissing, {}, "ApplName"};
  }
  if (record.put_to.empty()) {
    return Error{kSealFieldMissing, {}, "PutTo"};
  }
  sealed.header_path = JoinNativePath(record.put_to, HeaderFileName(record.appl_name));
  if (Result<void> written =
          WritePackage(record, project.file_list, observer, sealed.header_path, options);
      !written) {
    return written.error();
  }
  return sealed;
}

}  // namespace qx
