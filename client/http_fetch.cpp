// Transfers over HTTP and HTTPS with libcurl's multi interface. Client.
#include "client/http_fetch.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string_view>
#include <utility>

#include "core/digest/secure_digest.h"
#include "core/format/install_link.h"
#include "core/fsutil/path_text.h"
#include "core/signature/sha256.h"

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
// The longest wait for the transfers between looks at the limits.
constexpr int kPollMilliseconds = 100;
// How often the bytes that came in are sampled for the low-speed limit.
constexpr auto kSpeedSampleInterval = std::chrono::milliseconds(100);
// Of an answer that is not the body asked for (an error page, a redirect's),
// this much is read and dropped before the transfer ends.
constexpr int64_t kRefusedBodyLimit = 64 * 1024;
// The header lines of one answer, interim answers included.
constexpr int64_t kHeaderLinesLimit = 64 * 1024;

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

// "1 second", "60 seconds".
std::string Seconds(int count) {
  return std::to_string(count) + (count == 1 ? " second" : " seconds");
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

UrlPlace PlaceOf(const std::string& url) {
  InitialiseCurl();
  UrlPlace place;
  CURLU* handle = curl_url();
  char* scheme = nullptr;
  char* host = nullptr;
  if (handle != nullptr && curl_url_set(handle, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
      curl_url_get(handle, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
      curl_url_get(handle, CURLUPART_HOST, &host, 0) == CURLUE_OK) {
    place.scheme = scheme;
    place.host = host;
    for (char& c : place.host) {
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  curl_free(scheme);
  curl_free(host);
  curl_url_cleanup(handle);
  if (place.scheme != "http" && place.scheme != "https") {
    return {};
  }
  return place;
}

std::string UrlPathOf(std::string_view name) {
  std::string path;
  size_t start = 0;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || IsPathSeparator(name[i])) {
      path += PercentEncoded(name.substr(start, i - start));
      path += i == name.size() ? "" : "/";
      start = i + 1;
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
  Sha256Stream sha256;
  int64_t received = 0;  // bytes of this file written
  int attempts = 0;
  bool resuming = false;
  Clock::time_point not_before;
  bool running = false;

  // Of the current attempt.
  int64_t header_bytes = 0;
  bool headers_complete = false;  // the blank line after the final answer's header lines came
  bool status_seen = false;
  bool broke_off = false;   // the connection failed, not the answer
  long refused_status = 0;  // an answer that was not the body asked for
  int64_t refused_bytes = 0;
  std::string location;  // the answer's Location, as given
  std::string failure;   // set while receiving

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
    sha256 = Sha256Stream();
    return digest && ::ftruncate(fd, 0) == 0 && ::lseek(fd, 0, SEEK_SET) == 0;
  }

  // What the server's answer means, when it is not the body asked for.
  std::string StatusText(long code) const {
    if (code >= 300 && code < 400) {
      // curl works out where only at the end of the answer, which is not
      // read when it runs long.
      char* redirect = nullptr;
      curl_easy_getinfo(handle, CURLINFO_REDIRECT_URL, &redirect);
      std::string error_text;
      const std::string target = redirect != nullptr ? std::string(redirect)
                                 : location.empty()  ? std::string()
                                                     : ResolveUrl(url, location, &error_text);
      return "the server redirects it to " +
             (target.empty() ? std::string("another place") : PrintableText(target)) + " (HTTP " +
             std::to_string(code) + "); give that URL instead";
    }
    if (code == 404 || code == 410) {
      return "not found on the server (HTTP " + std::to_string(code) + ")";
    }
    return "the server answered HTTP " + std::to_string(code);
  }

  // Why the transfer ended early with |result|, which curl gave.
  std::string BrokeOffText(CURLcode result) const {
    const FetchLimits& limits = owner->settings_.limits;
    if (result == CURLE_OPERATION_TIMEDOUT) {
      // Connecting ends before the transfer proper starts, on a reused
      // connection too.
      curl_off_t started = 0;
      curl_easy_getinfo(handle, CURLINFO_PRETRANSFER_TIME_T, &started);
      if (started == 0) {
        return "no connection within " + Seconds(limits.connect_seconds) + " (--connect-timeout)";
      }
      return "the server sent next to nothing for " + Seconds(limits.low_speed_seconds) +
             " (--low-speed-time)";
    }
    const std::string reason = error[0] != 0 ? error : curl_easy_strerror(result);
    if (file != nullptr) {
      return "the transfer broke off after " + Bytes(received) + " of " +
             Bytes(file->entry->length) + " bytes (" + reason + ")";
    }
    if (!headers_complete && header_bytes > 0) {
      return "the answer was cut off in its header lines (" + reason + ")";
    }
    if (headers_complete) {
      return "the answer was cut off after " + Bytes(static_cast<int64_t>(body->size())) +
             " bytes (" + reason + ")";
    }
    return reason;
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
    owner->bytes_on_line_ += static_cast<int64_t>(count);
    if (!status_seen) {
      AcceptStatus();
    }
    if (refused_status != 0) {
      // An error page or a redirect's: dropped, and only so much of it read.
      refused_bytes += static_cast<int64_t>(count);
      return refused_bytes <= kRefusedBodyLimit ? count : 0;
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
      if (!file->sha256.empty()) {
        sha256.Update(data, count);
      }
      received += static_cast<int64_t>(count);
    }
    owner->bytes_received_ += static_cast<int64_t>(count);
    return count;
  }

  size_t ReceiveHeader(const char* data, size_t count) {
    owner->bytes_on_line_ += static_cast<int64_t>(count);
    header_bytes += static_cast<int64_t>(count);
    if (header_bytes > kHeaderLinesLimit) {
      failure = "the answer's header lines run past " + Bytes(kHeaderLinesLimit) + " bytes";
      return 0;
    }
    const std::string_view line(data, count);
    if (line.substr(0, 5) == "HTTP/") {
      headers_complete = false;  // the final answer after an interim one
      location.clear();
    } else if (line == "\r\n" || line == "\n") {
      headers_complete = true;
    } else if (line.size() > 9 && strncasecmp(line.data(), "location:", 9) == 0) {
      const size_t first = line.find_first_not_of(" \t", 9);
      const size_t last = line.find_last_not_of(" \t\r\n");
      location = first == std::string_view::npos || last < first
                     ? std::string()
                     : std::string(line.substr(first, last - first + 1));
    }
    return count;
  }

  static size_t OnBody(char* data, size_t size, size_t count, void* user) {
    return static_cast<Transfer*>(user)->Receive(data, size * count);
  }

  static size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    return static_cast<Transfer*>(user)->ReceiveHeader(data, size * count);
  }
};

// Whether the transfers together brought fewer bytes a second than the
// low-speed limit over the whole last period: samples the running count of
// bytes and keeps those of the last period, and the one before it.
class HttpFetcher::SpeedWatch {
 public:
  SpeedWatch(int64_t count, const FetchLimits& limits)
      : bytes_per_second_(limits.low_speed_bytes),
        period_(std::chrono::seconds(limits.low_speed_seconds)) {
    samples_.push_back({Clock::now(), count});
  }

  bool TooSlow(Clock::time_point now, int64_t count) {
    if (now - samples_.back().time >= kSpeedSampleInterval) {
      samples_.push_back({now, count});
    }
    while (samples_.size() > 1 && samples_[1].time <= now - period_) {
      samples_.pop_front();
    }
    const Sample& since = samples_.front();
    if (now - since.time < period_) {
      return false;
    }
    const double seconds = std::chrono::duration<double>(now - since.time).count();
    return static_cast<double>(count - since.count) <
           static_cast<double>(bytes_per_second_) * seconds;
  }

 private:
  struct Sample {
    Clock::time_point time;
    int64_t count = 0;
  };
  int64_t bytes_per_second_;
  Clock::duration period_;
  std::deque<Sample> samples_;
};

HttpFetcher::HttpFetcher(FetchSettings settings) : settings_(std::move(settings)) {
  InitialiseCurl();
  settings_.transfers = std::max(1, settings_.transfers);
  FetchLimits& limits = settings_.limits;
  limits.connect_seconds = std::max(1, limits.connect_seconds);
  limits.low_speed_bytes = std::max(1, limits.low_speed_bytes);
  limits.low_speed_seconds = std::max(1, limits.low_speed_seconds);
  limits.deadline_seconds = std::max(1, limits.deadline_seconds);
  deadline_ = Clock::now() + std::chrono::seconds(limits.deadline_seconds);
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
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT,
                   static_cast<long>(settings_.limits.connect_seconds));
  curl_easy_setopt(handle, CURLOPT_USERAGENT, "qxweb");
  curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, kReceiveBuffer);
  curl_easy_setopt(handle, CURLOPT_PIPEWAIT, 1L);
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, transfer->error);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, transfer.get());
  curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
  curl_easy_setopt(handle, CURLOPT_HEADERDATA, transfer.get());
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
  transfer.header_bytes = 0;
  transfer.headers_complete = false;
  transfer.status_seen = false;
  transfer.broke_off = false;
  transfer.refused_status = 0;
  transfer.refused_bytes = 0;
  ++transfer.attempts;
  ++requests_;
  curl_easy_setopt(transfer.handle, CURLOPT_URL, transfer.url.c_str());
  // The low-speed limit watches all transfers together; besides, a file's
  // connection that brings next to nothing for as long is tried anew while
  // the others go on.
  const bool watched = transfer.file != nullptr;
  curl_easy_setopt(transfer.handle, CURLOPT_LOW_SPEED_LIMIT, watched ? 1L : 0L);
  curl_easy_setopt(transfer.handle, CURLOPT_LOW_SPEED_TIME,
                   watched ? static_cast<long>(settings_.limits.low_speed_seconds) : 0L);
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
    transfer.failure = transfer.BrokeOffText(static_cast<CURLcode>(result));
    return false;
  }
  // curl takes an answer that ends inside its header lines for one without
  // a body.
  if (!transfer.headers_complete) {
    transfer.broke_off = true;
    transfer.failure = "the answer was cut off in its header lines";
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

std::string HttpFetcher::FetchDocument(const std::string& url, size_t limit, std::string* body,
                                       long* refused_status) {
  auto* transfer = static_cast<Transfer*>(NewHandle());
  if (transfer == nullptr || multi_ == nullptr) {
    return url + ": out of memory";
  }
  body->clear();
  transfer->url = url;
  transfer->body = body;
  transfer->limit = limit;
  SpeedWatch watch(bytes_on_line_, settings_.limits);
  Start(*transfer);
  int result = CURLE_OK;
  std::string limit_passed;
  for (bool done = false; !done && limit_passed.empty();) {
    int running = 0;
    curl_multi_perform(multi_, &running);
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
      if (message->msg == CURLMSG_DONE) {
        result = message->data.result;
        done = true;
      }
    }
    limit_passed = done ? std::string() : LimitPassed(watch, "the transfer", "");
    if (!done && limit_passed.empty()) {
      curl_multi_poll(multi_, nullptr, 0, kPollMilliseconds, nullptr);
    }
  }
  std::string failure;
  if (!limit_passed.empty()) {
    curl_multi_remove_handle(multi_, transfer->handle);
    transfer->running = false;
    failure = PrintableText(url) + ": " + limit_passed;
  } else if (!Finish(*transfer, result)) {
    failure = PrintableText(url) + ": " + transfer->failure;
  }
  if (refused_status != nullptr) {
    *refused_status = transfer->refused_status;
  }
  transfers_.pop_back();
  return failure;
}

std::string HttpFetcher::LimitPassed(SpeedWatch& watch, std::string_view subject,
                                     std::string_view so_far) const {
  const FetchLimits& limits = settings_.limits;
  if (settings_.cancelled && settings_.cancelled()) {
    return std::string(kFetchCancelled);
  }
  const auto now = Clock::now();
  if (now >= deadline_) {
    return "the command's deadline of " + Seconds(limits.deadline_seconds) + " passed" +
           std::string(so_far) + " (--deadline)";
  }
  if (watch.TooSlow(now, bytes_on_line_)) {
    return std::string(subject) + " stayed below " + Bytes(limits.low_speed_bytes) +
           (limits.low_speed_bytes == 1 ? " byte" : " bytes") + " a second for " +
           Seconds(limits.low_speed_seconds) + std::string(so_far) +
           " (--low-speed-limit, --low-speed-time)";
  }
  return {};
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
  SpeedWatch watch(bytes_on_line_, settings_.limits);
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
        transfer->sha256 = Sha256Stream();
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
    const std::string so_far = " with " + std::to_string(progress.files_done) + " of " +
                               std::to_string(progress.files_total) + " files fetched";
    if (std::string passed = LimitPassed(watch, "the transfers", so_far); !passed.empty()) {
      problems.push_back(std::move(passed));
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
      if (done && !transfer->file->sha256.empty() &&
          transfer->sha256.Finish() != transfer->file->sha256) {
        transfer->failure = "not the bytes the signature gives (SHA-256 mismatch)";
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
      curl_multi_poll(multi_, nullptr, 0, kPollMilliseconds, nullptr);
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
