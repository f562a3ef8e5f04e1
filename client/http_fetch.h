#pragma once

// Transfers over HTTP and HTTPS with libcurl: a small document into memory,
// and a package's stored files into files, several at once over reused
// connections, each checked against its header entry as its bytes arrive.
// Client.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/format/header_reader.h"

namespace qx {

// What ends the transfers of one fetcher, which serves one command. The
// defaults let a slow line through: a modem or a weak mobile link still
// brings several kilobytes a second, so the transfers together staying below
// 1 kB a second for a whole minute means a server or a path that has all but
// stopped; and four hours bring 1.4 GB at 100 kB a second, more than a
// package of desktop applications holds.
struct FetchLimits {
  int connect_seconds = 30;            // to reach a server, TLS handshake included
  int low_speed_bytes = 1024;          // all transfers together bringing fewer bytes a second
  int low_speed_seconds = 60;          // than low_speed_bytes for this long end them
  int deadline_seconds = 4 * 60 * 60;  // from the fetcher's start, for all its transfers
};

struct FetchSettings {
  std::string ca_file;  // certificates to trust for https; empty: the system's store
  int transfers = 8;    // files in flight at once
  FetchLimits limits;
  // Asked about ten times a second while transfers run: true ends them
  // with kFetchCancelled.
  std::function<bool()> cancelled;
};

// The problem of transfers the user cancelled.
inline constexpr std::string_view kFetchCancelled = "cancelled by the user";

// One stored file to fetch: its bytes must have |entry|'s Length and keyed
// digest, and the SHA-256 a signature gives them when there is one.
struct FileFetch {
  std::string url;
  std::string path;  // written anew; left behind, incomplete, when the fetch fails
  const FileEntry* entry = nullptr;
  std::string sha256;  // signed; empty for an unsigned package
};

struct FetchProgress {
  int files_done = 0;
  int files_total = 0;
  int64_t bytes_done = 0;  // of the files done and in flight
  int64_t bytes_total = 0;
};

struct FetchCallbacks {
  // Every tenth of a second or so while files are fetched.
  std::function<void(const FetchProgress&)> progress;
  // Once for every file that verified.
  std::function<void(const FileFetch&)> file_done;
};

// Resolves |reference| (absolute, or relative as in an HTML link) against
// |base|. Empty, with |error| set, when either is no http or https URL.
std::string ResolveUrl(const std::string& base, const std::string& reference, std::string* error);

// Where an http or https URL leads: its scheme and its host, both in lower
// case (an IPv6 address in brackets). Empty for anything else.
struct UrlPlace {
  std::string scheme;
  std::string host;
};
UrlPlace PlaceOf(const std::string& url);

// A relative URL reference for a stored file's name: its parts separated by
// "/" and every byte but the unreserved ones percent-encoded.
std::string UrlPathOf(std::string_view name);

class HttpFetcher {
 public:
  explicit HttpFetcher(FetchSettings settings);
  ~HttpFetcher();
  HttpFetcher(const HttpFetcher&) = delete;
  HttpFetcher& operator=(const HttpFetcher&) = delete;

  // The body of |url|, at most |limit| bytes, into |body|. Empty on
  // success; otherwise what went wrong, naming the URL, with |body| holding
  // what came before it, and |refused_status|, when given, the HTTP status
  // of an answer that was not the document (0 when the transfer failed).
  // An answer that ends before its header lines or its body do is refused
  // as cut off.
  std::string FetchDocument(const std::string& url, size_t limit, std::string* body,
                            long* refused_status = nullptr);

  // Fetches every file, at most |settings.transfers| at once. A file whose
  // transfer breaks off or stalls resumes with a range request where the
  // server allows it; one that fails (HTTP error, wrong length, digest
  // or SHA-256 mismatch) is fetched again once. |key| keys the digests. Returns the
  // problems, "NAME: what is wrong"; the first file that fails twice stops
  // the rest, and so does a limit of |settings.limits| that ends the whole
  // fetch (one problem without a name then).
  std::vector<std::string> FetchFiles(const std::vector<FileFetch>& files, const char* key,
                                      const FetchCallbacks& callbacks);

  // Bytes of bodies received and requests made so far, all attempts counted.
  int64_t bytes_received() const { return bytes_received_; }
  int requests() const { return requests_; }

 private:
  struct Transfer;
  class SpeedWatch;
  void* NewHandle();
  void Start(Transfer& transfer);
  bool Finish(Transfer& transfer, int result);
  // Why the transfers are to end now, |subject| being what they fetch and
  // |so_far| what they have fetched; empty while no limit is passed.
  std::string LimitPassed(SpeedWatch& watch, std::string_view subject,
                          std::string_view so_far) const;

  FetchSettings settings_;
  std::chrono::steady_clock::time_point deadline_;
  void* multi_ = nullptr;
  std::vector<std::unique_ptr<Transfer>> transfers_;
  int64_t bytes_received_ = 0;
  int64_t bytes_on_line_ = 0;  // header lines and bodies, refused ones too
  int requests_ = 0;
};

}  // namespace qx
