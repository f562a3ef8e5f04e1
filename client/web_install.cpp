// A package taken into the cache from a web server, and kept current.
// Client.
#include "client/web_install.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

#include "client/cache_area.h"
#include "client/landing_embed.h"
#include "client/package_check.h"
#include "client/signature_check.h"
#include "client/signer_pins.h"
#include "core/cache/cache_registry.h"
#include "core/compress/codec.h"
#include "core/format/header_lines.h"
#include "core/format/package_paths.h"
#include "core/fsutil/directory_tree.h"
#include "core/fsutil/path_text.h"
#include "core/launch/launch.h"
#include "core/package/package_directory.h"
#include "core/package/stored_expansion.h"
#include "core/package/stored_file_check.h"
#include "core/platform/file_handle.h"
#include "core/platform/workers.h"
#include "core/signature/package_signature.h"
#include "core/signature/sha256.h"

namespace qx {

namespace {

constexpr size_t kPageLimit = size_t{1} << 20;
// The longest URL the cache keeps for qxweb update, in characters.
constexpr size_t kSourceUrlLimit = 4096;

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return lower;
}

// Whether |url| names a landing page: its path ends in ".htm" or ".html".
bool IsLandingPage(const std::string& url) {
  const std::string path = Lower(url.substr(0, url.find_first_of("?#")));
  const auto ends_with = [&path](std::string_view suffix) {
    return path.size() >= suffix.size() &&
           path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  return ends_with(".htm") || ends_with(".html");
}

// The cached version of the package, when the cache lists it and its
// header still reads and verifies.
struct CachedVersion {
  std::unique_ptr<PackageHeader> record;
  std::string header_bytes;
  std::string signature_bytes;  // empty when it is not signed
  // Each stored file's SHA-256 by name, when its signature holds: the
  // files were checked against them when they were taken.
  std::map<std::string, std::string> signed_files;
  bool stored_form = true;
  std::string directory_id;  // the package directory's device and inode
  std::map<std::string, const FileEntry*> entries;
};

// A header as a server holds it, with the signature beside it.
struct ServedPackage {
  std::unique_ptr<PackageHeader> record;
  std::string header_bytes;
  std::optional<std::string> signature_bytes;  // none: the server has no signature
  SignatureCheck signature;                    // holds, when there is one
  std::map<std::string, std::string> signed_files;
};

// Parses a header held in memory as the client reads one from a file;
// |label| names it in problems.
std::unique_ptr<PackageHeader> ReadHeaderBytes(const std::string& bytes, const std::string& label,
                                               std::vector<std::string>& problems) {
  if (bytes.empty()) {
    problems.push_back(label + ": not a package header (empty)");
    return nullptr;
  }
  return ReadHeaderText(bytes, label, problems);
}

// Read under the lock.
CachedVersion FindCachedVersion(const WebInstallOutcome& outcome, const std::string& appl_name) {
  CachedVersion cached;
  CachedApplication application;
  if (FindApplication(outcome.name, nullptr) == -1 || !DirectoryExists(outcome.directory) ||
      ReadApplication(outcome.name, &application) != 1) {
    return cached;
  }
  const std::string header_path = JoinNativePath(outcome.directory, HeaderFileName(appl_name));
  std::vector<std::string> problems;
  cached.header_bytes = FileBytes(header_path);
  cached.record = ReadHeaderBytes(cached.header_bytes, header_path, problems);
  if (!cached.record || !problems.empty()) {
    cached.record.reset();
    return cached;
  }
  cached.signature_bytes = FileBytes(header_path + std::string(kSignatureSuffix));
  if (!cached.signature_bytes.empty()) {
    CheckSignatureText(cached.signature_bytes, header_path, cached.header_bytes, *cached.record, "",
                       &cached.signed_files);
  }
  cached.stored_form = application.compressed != kNo;
  cached.directory_id = FileIdOf(outcome.directory);
  cached.record->package_directory = outcome.directory;
  for (const auto& entry : cached.record->entries) {
    if (!entry->comment && entry->state != kEntryStateComment) {
      cached.entries.emplace(entry->name, entry.get());
    }
  }
  return cached;
}

// Takes |entry|'s file from the cached version into |target| when the cache
// holds it as the new version needs it: the same name, Length, digest and
// kind, and for a signed version the SHA-256 that |served| signs. The file is linked first
// and checked where it was linked (its stored bytes, or in an expanded
// cache its size), so that a cache changed meanwhile can only make it fail.
// Runs without the lock.
bool TakeFromCache(const CachedVersion& cached, const ServedPackage& served, const FileEntry& entry,
                   const std::string& target) {
  if (!cached.record) {
    return false;
  }
  const auto found = cached.entries.find(entry.name);
  if (found == cached.entries.end()) {
    return false;
  }
  const HeaderValues& values = served.record->values;
  const FileEntry& earlier = *found->second;
  const bool named = IsNamedFileEntry(values, entry.name);
  if (earlier.length != entry.length || earlier.digest != entry.digest ||
      named != IsNamedFileEntry(cached.record->values, entry.name)) {
    return false;
  }
  // A signed file is taken when the cached version's signature gives it
  // the same SHA-256, or else when its stored bytes have it.
  std::string_view signed_sha256;
  bool vouched = false;
  if (served.signature_bytes) {
    const auto signed_now = served.signed_files.find(entry.name);
    if (signed_now == served.signed_files.end()) {
      return false;
    }
    signed_sha256 = signed_now->second;
    const auto signed_then = cached.signed_files.find(entry.name);
    vouched = signed_then != cached.signed_files.end() && signed_then->second == signed_sha256;
    if (!vouched && !cached.stored_form && !named) {
      return false;  // only the expanded bytes are there
    }
  }
  // A link is taken over as a link: only a regular file will do.
  const std::string source = JoinNativePath(cached.record->package_directory, entry.name);
  struct stat info {};
  if (::link(source.c_str(), target.c_str()) != 0) {
    return false;
  }
  const bool held =
      ::lstat(target.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
      (cached.stored_form || named
           ? CheckStoredFileAt(target, entry, values.appl_name.c_str(), nullptr) == kStoredFileOk
           : info.st_size == entry.size) &&
      (signed_sha256.empty() || vouched || Sha256OfFile(target).value == signed_sha256);
  if (!held) {
    ::unlink(target.c_str());
  }
  return held;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  FilePtr file(std::fopen(path.c_str(), "wb"));
  return file && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size() &&
         CloseChecked(file);
}

// Why the header at |header_url| is not fetched for the page at |page_url|
// that names it; empty when it may be. A page fetched over https leads only
// to a header over https, and a page leads to another host only when the
// user allows it.
std::string RefusedHeaderPlace(const std::string& page_url, const std::string& header_url,
                               bool allow_other_host) {
  const UrlPlace page = PlaceOf(page_url);
  const UrlPlace header = PlaceOf(header_url);
  const std::string names =
      PrintableText(page_url) + " names its header as " + PrintableText(header_url);
  if (page.scheme == "https" && header.scheme != "https") {
    return names + ", over plain http; a page fetched over https leads only to a header over https";
  }
  if (page.host != header.host && !allow_other_host) {
    return names + ", on another host; give --allow-other-host to fetch it from there";
  }
  return {};
}

// Where the signature of the header at |header_url| is: beside it, as
// NAME.qxw.sig.
std::string SignatureUrlOf(const std::string& header_url) {
  return header_url.substr(0, header_url.find_first_of("?#")) + std::string(kSignatureSuffix);
}

// Whether what a server answered for a signature means that the package
// has none: an answer other than the document but a server error (many
// servers redirect or forbid what they do not hold), or a document that is
// no signature (a server's page for every unknown path). Taking these for
// "not signed" gives nobody more than removing the signature would.
bool IsNoSignature(const std::string& error, long refused_status, std::string_view body) {
  if (refused_status != 0) {
    return refused_status < 500;
  }
  const std::string magic = std::string(kSignatureMagic) + " ";
  // A transfer that broke off may have brought too little to tell.
  const bool told = error.empty() || body.size() >= magic.size();
  return told && body.substr(0, magic.size()) != magic;
}

// Stored files that |record| lists, the ones a signature lists too.
uint64_t StoredFileCount(const PackageHeader& record) {
  return static_cast<uint64_t>(std::count_if(
      record.entries.begin(), record.entries.end(),
      [](const auto& entry) { return !entry->comment && entry->state != kEntryStateComment; }));
}

// Fetches the header that |url| names, directly or through a landing page,
// and the signature beside it, and reads and checks both (the signature
// against |required_key| too, when one is given). False, with problems
// added, when they cannot be had or fail the client's checks.
bool FetchPackage(HttpFetcher& fetcher, const std::string& url, bool allow_other_host,
                  const std::string& required_key, WebInstallOutcome& outcome,
                  ServedPackage& served) {
  std::string error;
  outcome.header_url = ResolveUrl(url, url, &error);
  if (!outcome.header_url.empty() && IsLandingPage(outcome.header_url)) {
    const std::string page_url = outcome.header_url;
    std::string page;
    error = fetcher.FetchDocument(page_url, kPageLimit, &page);
    const std::string source = error.empty() ? EmbeddedSource(page) : std::string();
    if (error.empty() && source.empty()) {
      error = PrintableText(url) + ": the page has no embed tag that names a package header";
    }
    outcome.header_url = error.empty() ? ResolveUrl(page_url, source, &error) : "";
    if (error.empty()) {
      error = RefusedHeaderPlace(page_url, outcome.header_url, allow_other_host);
    }
  }
  if (!error.empty()) {
    outcome.problems.push_back(error);
    return false;
  }
  const std::string signature_url = SignatureUrlOf(outcome.header_url);
  // The publisher puts the signature in place before the header, so a
  // client can meet the new signature beside the old header: both are
  // fetched once more before the signature counts as wrong.
  for (int attempt = 1;; ++attempt) {
    served = ServedPackage();
    error = fetcher.FetchDocument(outcome.header_url, static_cast<size_t>(kHeaderSizeLimit),
                                  &served.header_bytes);
    if (!error.empty()) {
      outcome.problems.push_back(error);
      return false;
    }
    served.record =
        ReadHeaderBytes(served.header_bytes, PrintableText(outcome.header_url), outcome.problems);
    if (served.record) {
      CheckEntries(*served.record, outcome.problems);
    }
    if (!outcome.problems.empty()) {
      return false;
    }
    std::string signature;
    long refused_status = 0;
    error = fetcher.FetchDocument(signature_url, MaxSignatureBytes(StoredFileCount(*served.record)),
                                  &signature, &refused_status);
    if (IsNoSignature(error, refused_status, signature)) {
      return true;
    }
    if (!error.empty()) {
      outcome.problems.push_back(error);
      return false;
    }
    served.signature_bytes = std::move(signature);
    served.signature =
        CheckSignatureText(*served.signature_bytes, PrintableText(signature_url),
                           served.header_bytes, *served.record, required_key, &served.signed_files);
    if (served.signature.problems.empty()) {
      return true;
    }
    if (attempt == 2) {
      outcome.problems = served.signature.problems;
      return false;
    }
  }
}

// Expands the fetched files where they were fetched in |staging|, on worker
// threads, for a cache that holds its files expanded. Problems are added
// when one cannot be.
void ExpandFetched(const HeaderValues& values, const std::vector<FileFetch>& fetched,
                   const std::string& staging, std::vector<std::string>& problems) {
  std::vector<const FileFetch*> stored;
  uint64_t expanded_bytes = 0;
  for (const FileFetch& file : fetched) {
    if (!IsNamedFileEntry(values, file.entry->name)) {
      stored.push_back(&file);
      expanded_bytes += static_cast<uint64_t>(std::max<int64_t>(file.entry->size, 0));
    }
  }
  if (!RoomFor(staging, expanded_bytes, problems)) {
    return;
  }
  // Each file expands beside itself and takes its own place; a failure
  // leaves the staging directory, which then goes whole.
  const char* key = values.appl_name.c_str();
  const std::vector<std::string> failures = RunJobs(stored.size(), 0, [&](size_t i) {
    const FileFetch& file = *stored[i];
    const std::string expanding = file.path + std::string(kExpandingSuffix);
    std::string error = ExpandEntryFile(file.path, expanding, *file.entry, key, false);
    if (error.empty() && std::rename(expanding.c_str(), file.path.c_str()) != 0) {
      error = std::string("the expanded file cannot take its place: ") + std::strerror(errno);
      ::unlink(expanding.c_str());
    }
    return error;
  });
  for (size_t i = 0; i < failures.size(); ++i) {
    if (!failures[i].empty()) {
      problems.push_back(PrintableText(stored[i]->entry->name) + ": " + failures[i]);
    }
  }
}

WebInstallOutcome Install(ClientCache& cache, const std::string& url,
                          const std::string& expected_name, const WebInstallSettings& settings) {
  WebInstallOutcome outcome;
  HttpFetcher fetcher(settings.fetch);
  const auto count_transfers = [&outcome, &fetcher] {
    outcome.bytes_fetched = fetcher.bytes_received();
    outcome.requests = fetcher.requests();
  };
  // Nothing is locked while the server is asked.
  std::string error;
  ServedPackage served;
  cache.Unlock();
  const bool fetched = FetchPackage(fetcher, url, settings.allow_other_host,
                                    settings.signer.required_key, outcome, served);
  count_transfers();
  if (!cache.Lock(&error)) {
    outcome.problems.push_back(error);
    return outcome;
  }
  if (!fetched) {
    return outcome;
  }
  if (settings.shown != nullptr &&
      (served.header_bytes != settings.shown->header_bytes ||
       served.signature_bytes.value_or("") != settings.shown->signature_bytes)) {
    outcome.problems.push_back(PrintableText(outcome.header_url) +
                               " changed on the server since it was shown; look at it again");
    return outcome;
  }
  const PackageHeader& record = *served.record;
  const std::string& header_bytes = served.header_bytes;
  const HeaderValues& values = record.values;
  outcome.name = CacheNameOf(values);
  if (!expected_name.empty() && outcome.name != expected_name) {
    outcome.problems.push_back(PrintableText(url) + " now holds " + PrintableText(outcome.name) +
                               ", not " + PrintableText(expected_name));
    return outcome;
  }
  if (!CheckPlacement(cache, values, outcome)) {
    return outcome;
  }
  // The signer is judged before any stored file is fetched, and again
  // under the lock that commits, where the pin may have moved meanwhile.
  const std::string cached_header =
      JoinNativePath(outcome.directory, HeaderFileName(values.appl_name));
  const auto judge_signer = [&] {
    return JudgeSigner(outcome.name, served.signature, FileBytes(cached_header) == header_bytes,
                       settings.signer);
  };
  if (const SignerJudgement signer = judge_signer(); !signer.refusal.empty()) {
    outcome.problems.push_back(signer.refusal);
    return outcome;
  }
  const CachedVersion cached = FindCachedVersion(outcome, values.appl_name);
  WorkDirectory work;
  if (!work.Make(cache.root(), &error)) {
    outcome.problems.push_back(error);
    return outcome;
  }
  cache.Unlock();
  // What the cache holds whole is linked into the staging directory; the
  // rest, missing or damaged, is fetched. A cache that holds this version
  // whole is already current.
  std::vector<FileFetch> fetches;
  for (const auto& entry : record.entries) {
    if (entry->comment || entry->state == kEntryStateComment) {
      continue;
    }
    FileFetch fetch;
    fetch.path = JoinNativePath(work.incoming(), entry->name);
    fetch.entry = entry.get();
    std::string directory = DirectoryOf(fetch.path);
    if (!CreateDirectoryPath(directory)) {
      outcome.problems.push_back("cannot create " + directory + ": " + std::strerror(errno));
      break;
    }
    if (TakeFromCache(cached, served, *entry, fetch.path)) {
      ++outcome.kept;
      continue;
    }
    fetch.url = ResolveUrl(outcome.header_url, UrlPathOf(entry->name), &error);
    if (const auto signed_file = served.signed_files.find(entry->name);
        signed_file != served.signed_files.end()) {
      fetch.sha256 = signed_file->second;
    }
    fetches.push_back(std::move(fetch));
  }
  outcome.current = outcome.problems.empty() && fetches.empty() && cached.record &&
                    cached.header_bytes == header_bytes &&
                    cached.signature_bytes == served.signature_bytes.value_or("");
  if (outcome.problems.empty()) {
    outcome.problems = fetcher.FetchFiles(fetches, values.appl_name.c_str(), settings.callbacks);
  }
  count_transfers();
  outcome.fetched = static_cast<int>(fetches.size());
  const bool stored_form = !cached.record || cached.stored_form;
  if (outcome.problems.empty() && !stored_form) {
    ExpandFetched(values, fetches, work.incoming(), outcome.problems);
  }
  const std::string staged_header =
      JoinNativePath(work.incoming(), HeaderFileName(values.appl_name));
  if (outcome.problems.empty() && !outcome.current &&
      (!WriteWholeFile(staged_header, header_bytes) ||
       (served.signature_bytes &&
        !WriteWholeFile(staged_header + std::string(kSignatureSuffix), *served.signature_bytes)))) {
    outcome.problems.push_back("cannot write the header into " + work.incoming() + ": " +
                               std::strerror(errno));
  }
  if (outcome.problems.empty() && !outcome.current) {
    SyncFileSystem(work.incoming());
  }
  if (!cache.Lock(&error)) {
    outcome.problems.push_back(error);
    return outcome;
  }
  // Files taken from an expanded cache were only measured: they must come
  // from the version that was looked at.
  if (outcome.problems.empty() && cached.record && outcome.kept > 0 &&
      FileIdOf(outcome.directory) != cached.directory_id) {
    outcome.problems.push_back(PrintableText(outcome.name) +
                               " changed in the cache while this version was fetched; run the "
                               "command again");
  }
  const SignerJudgement signer = outcome.problems.empty() ? judge_signer() : SignerJudgement();
  if (!signer.refusal.empty()) {
    outcome.problems.push_back(signer.refusal);
  }
  outcome.signer = signer.note;
  if (!outcome.problems.empty() || outcome.current) {
    outcome.current = outcome.problems.empty() && outcome.current;
    return outcome;
  }
  std::set<std::string_view> listed;
  for (const auto& entry : record.entries) {
    listed.insert(entry->name);
  }
  for (const auto& [name, entry] : cached.entries) {
    outcome.removed += listed.count(name) == 0 ? 1 : 0;
  }
  outcome.files = outcome.kept + outcome.fetched;
  CommitPackage(cache, record, stored_form, work.incoming(), work.aside(), url, outcome,
                signer.pin);
  return outcome;
}

}  // namespace

WebPreview PreviewFromWeb(ClientCache& cache, const std::string& url,
                          const WebInstallSettings& settings) {
  WebPreview preview;
  WebInstallOutcome outcome;
  if (url.size() > kSourceUrlLimit) {
    preview.problems.push_back("the URL is " + std::to_string(url.size()) +
                               " characters long; the cache keeps at most " +
                               std::to_string(kSourceUrlLimit) + " for qxweb update");
    return preview;
  }
  HttpFetcher fetcher(settings.fetch);
  ServedPackage served;
  cache.Unlock();
  const bool fetched = FetchPackage(fetcher, url, settings.allow_other_host,
                                    settings.signer.required_key, outcome, served);
  std::string error;
  const bool locked = cache.Lock(&error);
  preview.header_url = outcome.header_url;
  preview.problems = std::move(outcome.problems);
  if (!locked) {
    preview.problems.push_back(error);
  }
  if (!fetched || !locked) {
    return preview;
  }
  const PackageHeader& record = *served.record;
  const HeaderValues& values = record.values;
  preview.header_bytes = served.header_bytes;
  preview.signature_bytes = served.signature_bytes.value_or("");
  preview.name = CacheNameOf(values);
  preview.appl_name = values.appl_name;
  preview.version = FormatVersionText(values.version);
  preview.owner = values.owner;
  preview.download_bytes = static_cast<int64_t>(served.header_bytes.size()) +
                           static_cast<int64_t>(served.signature_bytes.value_or("").size());
  for (const auto& entry : record.entries) {
    if (!entry->comment && entry->state != kEntryStateComment) {
      ++preview.files;
      preview.download_bytes += entry->length;
    }
  }
  preview.key_id = served.signature.key_id;
  if (!CheckPlacement(cache, values, outcome)) {
    preview.problems = std::move(outcome.problems);
    return preview;
  }
  const std::string cached_header =
      JoinNativePath(outcome.directory, HeaderFileName(values.appl_name));
  const SignerJudgement signer =
      JudgeSigner(preview.name, served.signature, FileBytes(cached_header) == served.header_bytes,
                  settings.signer);
  preview.signer = signer.note;
  if (!signer.refusal.empty()) {
    preview.problems.push_back(signer.refusal);
  }
  if (const CachedVersion cached = FindCachedVersion(outcome, values.appl_name); cached.record) {
    preview.cached_version = FormatVersionText(cached.record->values.version);
  }
  return preview;
}

WebInstallOutcome InstallFromWeb(ClientCache& cache, const std::string& url,
                                 const WebInstallSettings& settings) {
  if (url.size() > kSourceUrlLimit) {
    WebInstallOutcome outcome;
    outcome.problems.push_back("the URL is " + std::to_string(url.size()) +
                               " characters long; the cache keeps at most " +
                               std::to_string(kSourceUrlLimit) + " for qxweb update");
    return outcome;
  }
  return Install(cache, url, std::string(), settings);
}

WebInstallOutcome UpdateFromWeb(ClientCache& cache, const std::string& name,
                                const WebInstallSettings& settings) {
  // One character more than is kept, terminating zero besides, so that a
  // longer URL an earlier version wrote is seen as such, not taken cut.
  std::string url;
  ReadCacheString(name, kSourceUrlKey, kSourceUrlLimit + 2, "", url);
  if (url.empty() || url.size() > kSourceUrlLimit) {
    WebInstallOutcome outcome;
    outcome.name = name;
    outcome.problems.push_back(
        PrintableText(name) +
        (url.empty()
             ? " was not installed from a URL; install it with qxweb install URL"
             : " was installed from a URL longer than the " + std::to_string(kSourceUrlLimit) +
                   " characters the cache keeps; install it again from a shorter one"));
    return outcome;
  }
  return Install(cache, url, name, settings);
}

}  // namespace qx
