#pragma once

// Transfers over HTTP and HTTPS with libcurl: a small document into memory,
// and a package's stored files into files, several at once over reused
// connections, each checked against its header entry as its bytes arrive.
// Client.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/format/header_reader.h"

namespace qx {

struct FetchSettings {
  std::string ca_file;  // certificates to trust for https; empty: the system's store
  int transfers = 8;    // files in flight at once
};

// One stored file to fetch: its bytes must have |entry|'s Length and keyed digest.
struct FileFetch {
  std::string url;
  std::string path;  // written anew; left behind, incomplete, when the fetch fails
  const FileEntry* entry = nullptr;
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
  // success; otherwise what went wrong, naming the URL.
  std::string FetchDocument(const std::string& url, size_t limit, std::string* body);

  // Fetches every file, at most |settings.transfers| at once. A file whose
  // transfer breaks off resumes with a range request where the server
  // allows it; one that fails (HTTP error, wrong length, digest mismatch)
  // is fetched again once. |key| keys the digests. Returns the problems,
  // "NAME: what is wrong"; the first file that fails twice stops the rest.
  std::vector<std::string> FetchFiles(const std::vector<FileFetch>& files, const char* key,
                                      const FetchCallbacks& callbacks);

  // Bytes of bodies received and requests made so far, all attempts counted.
  int64_t bytes_received() const { return bytes_received_; }
  int requests() const { return requests_; }

 private:
  struct Transfer;
  void* NewHandle();
  void Start(Transfer& transfer);
  bool Finish(Transfer& transfer, int result);

  FetchSettings settings_;
  void* multi_ = nullptr;
  std::vector<std::unique_ptr<Transfer>> transfers_;
  int64_t bytes_received_ = 0;
  int requests_ = 0;
};

}  // namespace qx
