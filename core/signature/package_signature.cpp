// The package signature file: the writer, the strict line-by-line reader and
// the checks of its signature and signer. Signature layer.
#include "core/signature/package_signature.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/signature/sha256.h"

namespace qx {

namespace {

// Bytes of every line but the file lines, generously: the longest are the
// key line (80) and the signature line (99).
constexpr uint64_t kFixedLinesBytes = 512;
// Bytes of the longest file line: "file ", the Length, the hash, the name.
constexpr uint64_t kMaxFileLineBytes = 5 + 19 + 1 + kSha256TextLength + 1 + kMaxSignedName + 1;

constexpr std::string_view kFileWord = "file";
constexpr std::string_view kSignatureWord = "signature";
// The words of the lines of version 1 between the first and the file lines.
constexpr std::string_view kKnownWords[] = {"key",   "sequence", "header",
                                            "files", kFileWord,  kSignatureWord};

std::string Quoted(std::string_view text) {
  constexpr size_t kShown = 24;
  return "\"" + std::string(text.substr(0, kShown)) + (text.size() > kShown ? "...\"" : "\"");
}

// A decimal number without sign or leading zeros, at most |max|.
bool ParseNumber(std::string_view text, uint64_t max, uint64_t* value) {
  if (text.empty() || (text.size() > 1 && text[0] == '0')) {
    return false;
  }
  for (const char c : text) {
    if (c < '0' || c > '9') {
      return false;
    }
  }
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size() && *value <= max;
}

// Walks the lines of a signature file in the order version 1 gives them.
class LineReader {
 public:
  explicit LineReader(std::vector<std::string_view> lines) : lines_(std::move(lines)) {}

  size_t number() const { return next_; }  // of the line last taken, from 1
  bool at_end() const { return next_ == lines_.size(); }
  std::string_view current() const { return lines_[next_ - 1]; }

  // Takes the next line, which must start with |word| and a space; its value
  // (the rest) goes to |value|. |belongs| says what belongs there.
  std::string Take(std::string_view word, const std::string& belongs, std::string_view* value) {
    if (at_end()) {
      return Problem(next_ + 1, "the file ends where " + belongs + " belongs");
    }
    const std::string_view line = lines_[next_++];
    const size_t space = line.find(' ');
    const std::string_view found = line.substr(0, space);
    if (found == word && space != std::string_view::npos) {
      seen_.emplace(word, next_);
      *value = line.substr(space + 1);
      return {};
    }
    std::string what;
    if (found == word) {
      what = "the '" + std::string(word) + "' line has no value";
    } else if (found == kFileWord) {
      what = "a file line, where " + belongs + " belongs";
    } else if (const auto earlier = seen_.find(found); earlier != seen_.end()) {
      what = "a second '" + std::string(found) + "' line (the first is line " +
             std::to_string(earlier->second) + "), where " + belongs + " belongs";
    } else if (std::find(std::begin(kKnownWords), std::end(kKnownWords), found) !=
               std::end(kKnownWords)) {
      what = "the '" + std::string(found) + "' line out of order, where " + belongs + " belongs";
    } else {
      what = "unknown line " + Quoted(line) + ", where " + belongs + " belongs";
    }
    return Problem(next_, what);
  }

  static std::string Problem(size_t line, const std::string& what) {
    return "line " + std::to_string(line) + ": " + what;
  }

 private:
  std::vector<std::string_view> lines_;
  size_t next_ = 1;  // the first line is read apart
  std::unordered_map<std::string_view, size_t> seen_;
};

}  // namespace

uint64_t MaxSignatureBytes(uint64_t files) {
  return kFixedLinesBytes + std::min(files, kMaxSignedFiles) * kMaxFileLineBytes;
}

SignatureResult<std::string> SignatureText(const PackageSignature& signature,
                                           const SigningKey& key) {
  using Result = SignatureResult<std::string>;
  if (signature.version != kSignatureVersion) {
    return Result::Failure("signature format version " + std::to_string(signature.version) +
                           " cannot be written (only " + std::to_string(kSignatureVersion) + ")");
  }
  if (key.empty()) {
    return Result::Failure("no key to sign with");
  }
  std::string text = std::string(kSignatureMagic) + " " + std::to_string(kSignatureVersion) +
                     "\nkey " + PublicKeyLine(key.public_key()) + "\nsequence " +
                     std::to_string(signature.sequence) + "\nheader " + signature.header_sha256 +
                     "\nfiles " + std::to_string(signature.files.size()) + "\n";
  for (const SignedFile& file : signature.files) {
    text += "file " + std::to_string(file.length) + " " + file.sha256 + " " + file.name + "\n";
  }
  const SignatureResult<std::string> signed_bytes = SignBytes(key, text);
  if (!signed_bytes.ok()) {
    return signed_bytes;
  }
  text += std::string(kSignatureWord) + " " + Base64Of(signed_bytes.value) + "\n";
  // Whatever the reader would refuse is refused here.
  const SignatureResult<PackageSignature> back = ParseSignature(text);
  if (!back.ok()) {
    return Result::Failure("the signature cannot be written: " + back.error);
  }
  return {std::move(text), {}};
}

SignatureResult<PackageSignature> ParseSignature(std::string_view bytes) {
  using Result = SignatureResult<PackageSignature>;
  const auto fail = [](size_t line, const std::string& what) {
    return Result::Failure(LineReader::Problem(line, what));
  };
  if (bytes.size() > MaxSignatureBytes(kMaxSignedFiles)) {
    return Result::Failure("the file has " + std::to_string(bytes.size()) +
                           " bytes, more than any signature file");
  }
  std::vector<std::string_view> lines;
  for (size_t start = 0; start < bytes.size();) {
    const size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos) {
      return fail(lines.size() + 1, "the file ends without a line feed");
    }
    const std::string_view line = bytes.substr(start, end - start);
    for (const char c : line) {
      if (c == '\r') {
        return fail(lines.size() + 1, "a carriage return (lines end in a line feed alone)");
      }
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
        return fail(lines.size() + 1, "a control character");
      }
    }
    lines.push_back(line);
    start = end + 1;
  }
  if (lines.empty()) {
    return fail(1, "the file is empty");
  }
  const std::string magic = std::string(kSignatureMagic) + " ";
  if (lines[0].substr(0, magic.size()) != magic) {
    return fail(1, "not a signature file (it starts with \"" + magic + "1\")");
  }
  if (lines[0].substr(magic.size()) != std::to_string(kSignatureVersion)) {
    return fail(1, "signature format version " + Quoted(lines[0].substr(magic.size())) +
                       " is not known (this reader knows " + std::to_string(kSignatureVersion) +
                       ")");
  }

  Result result;
  PackageSignature& signature = result.value;
  LineReader reader(std::move(lines));
  std::string_view value;
  std::string problem = reader.Take("key", "the 'key' line", &value);
  if (!problem.empty()) {
    return Result::Failure(problem);
  }
  const SignatureResult<std::string> key = ParsePublicKeyLine(value);
  if (!key.ok()) {
    return fail(reader.number(), key.error);
  }
  signature.public_key = key.value;
  signature.key_id = KeyId(key.value);

  if (problem = reader.Take("sequence", "the 'sequence' line", &value); !problem.empty()) {
    return Result::Failure(problem);
  }
  if (!ParseNumber(value, std::numeric_limits<uint64_t>::max(), &signature.sequence)) {
    return fail(reader.number(), Quoted(value) + " is no sequence number (decimal, no sign " +
                                     "or leading zeros, at most 18446744073709551615)");
  }

  if (problem = reader.Take("header", "the 'header' line", &value); !problem.empty()) {
    return Result::Failure(problem);
  }
  if (!IsSha256Text(value)) {
    return fail(reader.number(), Quoted(value) + " is no SHA-256 (64 lower-case hex digits)");
  }
  signature.header_sha256 = value;

  if (problem = reader.Take("files", "the 'files' line", &value); !problem.empty()) {
    return Result::Failure(problem);
  }
  uint64_t count = 0;
  if (!ParseNumber(value, kMaxSignedFiles, &count)) {
    return fail(reader.number(), Quoted(value) + " is no file count (decimal, at most " +
                                     std::to_string(kMaxSignedFiles) + ")");
  }
  if (bytes.size() > MaxSignatureBytes(count)) {
    return fail(reader.number(), "a signature of " + std::to_string(count) + " files has at most " +
                                     std::to_string(MaxSignatureBytes(count)) + " bytes, not " +
                                     std::to_string(bytes.size()));
  }

  std::unordered_map<std::string_view, size_t> names;
  signature.files.reserve(count);
  for (uint64_t i = 0; i < count; ++i) {
    const std::string belongs =
        "file line " + std::to_string(i + 1) + " of " + std::to_string(count);
    if (problem = reader.Take(kFileWord, belongs, &value); !problem.empty()) {
      return Result::Failure(problem);
    }
    const size_t first = value.find(' ');
    const size_t second = first == std::string_view::npos ? first : value.find(' ', first + 1);
    if (second == std::string_view::npos) {
      return fail(reader.number(), "a file line is \"file LENGTH SHA256 NAME\"");
    }
    SignedFile& file = signature.files.emplace_back();
    uint64_t length = 0;
    if (!ParseNumber(value.substr(0, first), std::numeric_limits<int64_t>::max(), &length)) {
      return fail(reader.number(), Quoted(value.substr(0, first)) +
                                       " is no Length (decimal, no sign or leading zeros)");
    }
    file.length = static_cast<int64_t>(length);
    const std::string_view hash = value.substr(first + 1, second - first - 1);
    if (!IsSha256Text(hash)) {
      return fail(reader.number(), Quoted(hash) + " is no SHA-256 (64 lower-case hex digits)");
    }
    file.sha256 = hash;
    const std::string_view name = value.substr(second + 1);
    if (name.empty() || name.size() > kMaxSignedName) {
      return fail(reader.number(),
                  "the name is empty or longer than " + std::to_string(kMaxSignedName) + " bytes");
    }
    if (const auto [earlier, added] = names.emplace(name, reader.number()); !added) {
      return fail(reader.number(), "a second file line for " + Quoted(name) +
                                       " (the first is line " + std::to_string(earlier->second) +
                                       ")");
    }
    file.name = name;
  }

  const std::string belongs = "the 'signature' line after " + std::to_string(count) + " file lines";
  if (problem = reader.Take(kSignatureWord, belongs, &value); !problem.empty()) {
    return Result::Failure(problem);
  }
  const SignatureResult<std::string> signature_bytes = DecodeBase64(value, kSignatureBytes);
  if (!signature_bytes.ok()) {
    return fail(reader.number(), "the signature is not " + signature_bytes.error);
  }
  signature.signature = signature_bytes.value;
  signature.signed_length = static_cast<size_t>(reader.current().data() - bytes.data());
  if (!reader.at_end()) {
    return fail(reader.number() + 1, "a line after the 'signature' line");
  }
  return result;
}

std::string VerifySignature(const PackageSignature& parsed, std::string_view bytes) {
  if (parsed.signed_length == 0 || parsed.signed_length > bytes.size()) {
    return "the signature was not read from these bytes";
  }
  if (!VerifyBytes(parsed.public_key, bytes.substr(0, parsed.signed_length), parsed.signature)) {
    return "the signature does not match the signed lines (key " + parsed.key_id + ")";
  }
  return {};
}

std::string CheckSignerKey(const PackageSignature& parsed, std::string_view required) {
  if (parsed.public_key != required) {
    return "signed with key " + parsed.key_id + ", not with the required key " + KeyId(required);
  }
  return {};
}

}  // namespace qx
