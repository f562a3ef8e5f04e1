// Transfers over HTTP and HTTPS with libcurl's multi interface. Client.
#include "client/http_fetch.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

#include "core/digest/secure_digest.h"
#include "core/fsutil/path_text.h"

namespace qx {

namespace {

using Clock = std::chrono::steady_clock;

// A transfer that broke off waits this long before it is tried again, so
// that a server being restarted has come back.
constexpr auto kRetryDelay = std::chrono::seconds(1);
// How often the progress is reported while bytes arrive.
constexpr auto kProgressInterval = std::chrono::milliseconds(100);
// Bytes curl hands over at a time; larger than its default for fewer calls.
constexpr long kReceiveBuffer = 128 * 1024;

// Each process initialises libcurl once, before any thread could use it.
void InitialiseCurl() {
  static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
  (void)initialised;
}

std::string Bytes(int64_t count) {
  char text[32];
  std::snprintf(text, sizeof text, "%" PRId64, count);
  return text;
}

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

}  // namespace

std::string ResolveUrl(const std::string& base, const std::string& reference, std::string* error) {
  InitialiseCurl();
  CURLU* url = curl_url();
  std::string resolved;
  char* text = nullptr;
  if (url != nullptr && curl_url_set(url, CURLUPART_URL, base.c_str(), 0) == CURLUE_OK &&
      curl_url_set(url, CURLUPART_URL, reference.c_str(), 0) == CURLUE_OK &&
      curl_url_get(url, CURLUPART_URL, &text, 0) == CURLUE_OK) {
    resolved = text;
    curl_free(text);
  }
  char* scheme = nullptr;
  if (!resolved.empty() && curl_url_get(url, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK) {
    const std::string_view name(scheme);
    if (name != "http" && name != "https") {
      resolved.clear();
    }
    curl_free(scheme);
  }
  curl_url_cleanup(url);
  if (resolved.empty()) {
    *error = "\"" + PrintableText(reference) + "\" is not an http or https URL";
  }
  return resolved;
}

std::string UrlPathOf(std::string_view name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string path;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsPathSeparator(c)) {
      path += '/';
    } else if (IsUnreserved(byte)) {
      path += c;
    } else {
      path += '%';
      path += kHex[byte >> 4];
      path += kHex[byte & 15];
    }
  }
  return path;
}

// One easy handle and what it is fetching: a document into memory or a
// stored file into a file, with the state that survives a retry.
struct HttpFetcher::Transfer {
  CURL* handle = nullptr;
  char error[CURL_ERROR_SIZE] = {};
  std::string url;
  HttpFetcher* owner = nullptr;

  std::string* body = nullptr;  // a document
  size_t limit = 0;

  const FileFetch* file = nullptr;  // a stored file
  int fd = -1;
  DigestPtr digest;
  int64_t received = 0;  // bytes of this file written
  int attempts = 0;
  bool resuming = false;
  Clock::time_point not_before;
  bool running = false;

  bool status_seen = false;
  bool broke_off = false;   // the connection failed, not the answer
  long refused_status = 0;  // an answer that was not the body asked for
  std::string failure;      // set while receiving

  ~Transfer() {
    if (fd >= 0) {
      ::close(fd);
    }
    if (handle != nullptr) {
      curl_easy_cleanup(handle);
    }
  }

  // Starts the file over from its first byte.
  bool Restart() {
    received = 0;
    digest = DigestNew();
    return digest && ::ftruncate(fd, 0) == 0 && ::lseek(fd, 0, SEEK_SET) == 0;
  }

  // What the server's answer means, when it is not the body asked for.
  std::string StatusText(long code) const {
    if (code >= 300 && code < 400) {
      char* location = nullptr;
      curl_easy_getinfo(handle, CURLINFO_REDIRECT_URL, &location);
      return "the server redirects it to " +
             (location != nullptr ? PrintableText(location) : std::string("another place")) +
             " (HTTP " + std::to_string(code) + "); give that URL instead";
    }
    if (code == 404 || code == 410) {
      return "not found on the server (HTTP " + std::to_string(code) + ")";
    }
    return "the server answered HTTP " + std::to_string(code);
  }

  // The body's first bytes: is this the answer asked for?
  bool AcceptStatus() {
    status_seen = true;
    long code = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &code);
    if (code == 206 && resuming) {
      return true;
    }
    if (code == 200) {
      // A server that ignores the range sends the whole file again.
      if (resuming && !Restart()) {
        failure = std::string("cannot be written: ") + std::strerror(errno);
        return false;
      }
      return true;
    }
    failure = StatusText(code);
    refused_status = code;
    return false;
  }

  size_t Receive(const char* data, size_t count) {
    if (!status_seen) {
      AcceptStatus();
    }
    if (refused_status != 0) {
      return count;  // an error page or a redirect's: read to its end and dropped
    }
    if (!failure.empty()) {
      return 0;
    }
    if (body != nullptr) {
      if (body->size() + count > limit) {
        failure = "larger than " + Bytes(static_cast<int64_t>(limit)) + " bytes";
        return 0;
      }
      body->append(data, count);
    } else {
      if (received + static_cast<int64_t>(count) > file->entry->length) {
        failure = "more bytes than the header's Length " + Bytes(file->entry->length);
        return 0;
      }
      for (size_t written = 0; written < count;) {
        const ssize_t done = ::write(fd, data + written, count - written);
        if (done < 0 && errno == EINTR) {
          continue;
        }
        if (done <= 0) {
          failure = std::string("cannot be written: ") + std::strerror(errno);
          return 0;
        }
        written += static_cast<size_t>(done);
      }
      DigestUpdate(digest.get(), data, count);
      received += static_cast<int64_t>(count);
    }
    owner->bytes_received_ += static_cast<int64_t>(count);
    return count;
  }

  static size_t OnBody(char* data, size_t size, size_t count, void* user) {
    return static_cast<Transfer*>(user)->Receive(data, size * count);
  }
};

HttpFetcher::HttpFetcher(FetchSettings settings) : settings_(std::move(settings)) {
  InitialiseCurl();
  settings_.transfers = std::max(1, settings_.transfers);
  multi_ = curl_multi_init();
  curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, static_cast<long>(settings_.transfers));
  curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, static_cast<long>(settings_.transfers));
}

HttpFetcher::~HttpFetcher() {
  for (auto& transfer : transfers_) {
    if (transfer->running) {
      curl_multi_remove_handle(multi_, transfer->handle);
    }
  }
  transfers_.clear();
  curl_multi_cleanup(multi_);
}

void* HttpFetcher::NewHandle() {
  auto transfer = std::make_unique<Transfer>();
  CURL* handle = curl_easy_init();
  if (handle == nullptr) {
    return nullptr;
  }
  transfer->handle = handle;
  transfer->owner = this;
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, 30L);
  // A server that sends nothing for a minute has stopped.
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, 60L);
  curl_easy_setopt(handle, CURLOPT_USERAGENT, "qxweb");
  curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, kReceiveBuffer);
  curl_easy_setopt(handle, CURLOPT_PIPEWAIT, 1L);
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, transfer->error);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, transfer.get());
  curl_easy_setopt(handle, CURLOPT_PRIVATE, transfer.get());
  if (!settings_.ca_file.empty()) {
    curl_easy_setopt(handle, CURLOPT_CAINFO, settings_.ca_file.c_str());
  }
  transfers_.push_back(std::move(transfer));
  return transfers_.back().get();
}

void HttpFetcher::Start(Transfer& transfer) {
  transfer.error[0] = 0;
  transfer.failure.clear();
  transfer.status_seen = false;
  transfer.broke_off = false;
  transfer.refused_status = 0;
  ++transfer.attempts;
  ++requests_;
  curl_easy_setopt(transfer.handle, CURLOPT_URL, transfer.url.c_str());
  const std::string range = Bytes(transfer.received) + "-";
  curl_easy_setopt(transfer.handle, CURLOPT_RANGE, transfer.resuming ? range.c_str() : nullptr);
  curl_multi_add_handle(multi_, transfer.handle);
  transfer.running = true;
}

// Called when a transfer ended with |result|. True when the body is
// complete; otherwise |transfer.failure| says why.
bool HttpFetcher::Finish(Transfer& transfer, int result) {
  if (transfer.refused_status != 0) {
    // Where a redirect leads is known only once the answer is complete.
    transfer.failure = transfer.StatusText(transfer.refused_status);
  }
  curl_multi_remove_handle(multi_, transfer.handle);
  transfer.running = false;
  if (!transfer.failure.empty()) {
    return false;
  }
  if (result != CURLE_OK) {
    transfer.broke_off = true;
    const char* reason =
        transfer.error[0] != 0 ? transfer.error : curl_easy_strerror(static_cast<CURLcode>(result));
    transfer.failure = transfer.file == nullptr
                           ? std::string(reason)
                           : "the transfer broke off after " + Bytes(transfer.received) + " of " +
                                 Bytes(transfer.file->entry->length) + " bytes (" + reason + ")";
    return false;
  }
  if (!transfer.status_seen && !transfer.AcceptStatus()) {
    return false;  // an answer without a body: a redirect, an error, or an empty file
  }
  if (transfer.file == nullptr) {
    return true;
  }
  const FileEntry& entry = *transfer.file->entry;
  if (transfer.received != entry.length) {
    transfer.failure = "the server sent " + Bytes(transfer.received) + " of the " +
                       Bytes(entry.length) + " bytes the header lists";
    return false;
  }
  return true;
}

std::string HttpFetcher::FetchDocument(const std::string& url, size_t limit, std::string* body) {
  auto* transfer = static_cast<Transfer*>(NewHandle());
  if (transfer == nullptr || multi_ == nullptr) {
    return url + ": out of memory";
  }
  body->clear();
  transfer->url = url;
  transfer->body = body;
  transfer->limit = limit;
  Start(*transfer);
  int result = CURLE_OK;
  for (bool done = false; !done;) {
    int running = 0;
    curl_multi_perform(multi_, &running);
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
      if (message->msg == CURLMSG_DONE) {
        result = message->data.result;
        done = true;
      }
    }
    if (!done) {
      curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
    }
  }
  const bool complete = Finish(*transfer, result);
  std::string failure = complete ? std::string() : PrintableText(url) + ": " + transfer->failure;
  transfers_.pop_back();
  return failure;
}

std::vector<std::string> HttpFetcher::FetchFiles(const std::vector<FileFetch>& files,
                                                 const char* key, const FetchCallbacks& callbacks) {
  std::vector<std::string> problems;
  FetchProgress progress;
  progress.files_total = static_cast<int>(files.size());
  for (const FileFetch& file : files) {
    progress.bytes_total += file.entry->length;
  }
  const size_t slots = std::min(files.size(), static_cast<size_t>(settings_.transfers));
  std::vector<Transfer*> pool;
  for (size_t i = 0; i < slots; ++i) {
    auto* transfer = static_cast<Transfer*>(NewHandle());
    if (transfer == nullptr) {
      problems.push_back("out of memory");
      return problems;
    }
    pool.push_back(transfer);
  }

  int64_t bytes_of_done_files = 0;
  const auto report = [&] {
    if (callbacks.progress) {
      progress.bytes_done = bytes_of_done_files;
      for (const Transfer* transfer : pool) {
        if (transfer->file != nullptr) {
          progress.bytes_done += transfer->received;
        }
      }
      callbacks.progress(progress);
    }
  };
  const auto fail = [&](Transfer& transfer, const std::string& why) {
    problems.push_back(PrintableText(transfer.file->entry->name) + ": " + why);
  };

  size_t next = 0;
  auto last_report = Clock::now();
  for (;;) {
    // Every idle slot takes the next file; a waiting retry starts when due.
    bool busy = false;
    const auto now = Clock::now();
    for (Transfer* transfer : pool) {
      if (transfer->file == nullptr && problems.empty() && next < files.size()) {
        const FileFetch& file = files[next++];
        transfer->file = &file;
        transfer->url = file.url;
        transfer->attempts = 0;
        transfer->resuming = false;
        transfer->fd = ::open(file.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        transfer->received = 0;
        transfer->digest = DigestNew();
        if (transfer->fd < 0 || !transfer->digest) {
          fail(*transfer, std::string("cannot be written: ") + std::strerror(errno));
          break;
        }
        transfer->not_before = now;
      }
      if (transfer->file != nullptr && !transfer->running && problems.empty() &&
          transfer->not_before <= now) {
        Start(*transfer);
      }
      busy = busy || transfer->file != nullptr;
    }
    if (!busy || !problems.empty()) {
      break;
    }

    int running = 0;
    curl_multi_perform(multi_, &running);
    int left = 0;
    bool ended = false;  // a slot may take the next file at once
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
      if (message->msg != CURLMSG_DONE) {
        continue;
      }
      ended = true;
      Transfer* transfer = nullptr;
      curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
      bool done = Finish(*transfer, message->data.result);
      char digest[kDigestBufferSize] = {};
      if (done && (SecureDigest(transfer->digest.get(), digest, sizeof digest, key) != kDigestOk ||
                   std::string_view(digest) != transfer->file->entry->digest)) {
        transfer->failure = "digest mismatch";
        done = false;
      }
      if (done && ::close(std::exchange(transfer->fd, -1)) != 0) {
        transfer->failure = std::string("cannot be written: ") + std::strerror(errno);
        done = false;
      }
      if (done) {
        bytes_of_done_files += transfer->received;
        ++progress.files_done;
        if (callbacks.file_done) {
          callbacks.file_done(*transfer->file);
        }
        transfer->file = nullptr;
        continue;
      }
      if (transfer->attempts >= 2 || transfer->fd < 0) {
        fail(*transfer, transfer->failure);
        continue;
      }
      // Once more: from where it broke off when bytes arrived and the
      // digest so far holds them, from the start otherwise.
      const bool broke_off = transfer->broke_off;
      transfer->resuming = broke_off && transfer->received > 0;
      if (!transfer->resuming && !transfer->Restart()) {
        fail(*transfer, std::string("cannot be written: ") + std::strerror(errno));
        continue;
      }
      transfer->not_before = broke_off ? Clock::now() + kRetryDelay : Clock::now();
    }
    if (Clock::now() - last_report >= kProgressInterval) {
      last_report = Clock::now();
      report();
    }
    // Nothing wakes the wait while no transfer runs, so it is only for
    // transfers that still run or a retry that is not yet due.
    if (!ended) {
      curl_multi_poll(multi_, nullptr, 0, 100, nullptr);
    }
  }

  for (Transfer* transfer : pool) {
    if (transfer->running) {
      curl_multi_remove_handle(multi_, transfer->handle);
      transfer->running = false;
    }
  }
  transfers_.clear();
  return problems;
}

}  // namespace qx
