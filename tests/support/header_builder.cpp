// Test support for the format and package layer tests: package headers built
// line by line with their digest, and packages stored with gzip.
#include "tests/support/header_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>

#include "core/digest/secure_digest.h"
#include "core/fsutil/path_text.h"
#include "core/signature/package_signature.h"
#include "core/signature/sha256.h"
#include "tests/support/test_support.h"

namespace qx_test {

using qx::HeaderKey;

HeaderBuilder::HeaderBuilder() {
  for (const qx::HeaderKeyInfo& info : qx::kHeaderKeys) {
    values_[info.key] = "";
  }
  values_[HeaderKey::kOwner] = "Tarnwick Test";
  values_[HeaderKey::kApplName] = "Demo";
  values_[HeaderKey::kCommandLine] = "bin\\demo.exe -x";
  values_[HeaderKey::kVersion] = "01.00.00";
  values_[HeaderKey::kMinVersion] = "01.00.00";
  values_[HeaderKey::kDate] = "12/06/1997";
  values_[HeaderKey::kDelete] = "No";
  values_[HeaderKey::kCompanyIdentity] = "No";
  values_[HeaderKey::kDownloadDetail] = "No";
  values_[HeaderKey::kCombineDownloadLaunch] = "No";
  values_[HeaderKey::kLaunchSplashDuration] = "3";
  values_[HeaderKey::kUpdateOption] = "Optional";
}

HeaderBuilder& HeaderBuilder::Set(HeaderKey key, std::string value) {
  values_[key] = std::move(value);
  return *this;
}

HeaderBuilder& HeaderBuilder::AddFile(File file) {
  items_.push_back({false, std::move(file), {}});
  return *this;
}

HeaderBuilder& HeaderBuilder::AddComment(std::string text) {
  items_.push_back({true, {}, std::move(text)});
  return *this;
}

HeaderBuilder& HeaderBuilder::SetFileSize(std::string_view name, int64_t size) {
  for (Item& item : items_) {
    if (!item.comment && item.file.name == name) {
      item.file.size = size;
    }
  }
  return *this;
}

HeaderBuilder& HeaderBuilder::LibraryForm() {
  library_form_ = true;
  return *this;
}

const std::string& HeaderBuilder::Value(HeaderKey key) const {
  return values_.at(key);
}

std::string HeaderBuilder::Build(std::string* digest_text) const {
  char* buffer = nullptr;
  size_t size = 0;
  std::FILE* memory = open_memstream(&buffer, &size);
  qx::DigestPtr digest = qx::DigestNew();
  {
    const qx::HeaderWriter form =
        library_form_ ? qx::HeaderWriter::kLibrary : qx::HeaderWriter::kSealer;
    qx::HeaderLineWriter writer(memory, digest.get());
    writer.WriteLine(library_form_ ? qx::LibraryMagicLine(2, 0) : qx::SealerMagicLine(), true);
    writer.WriteCommentBlock(form);
    for (const qx::HeaderKeyInfo& info : qx::kHeaderKeys) {
      writer.WriteKeyLine(info.key, values_.at(info.key), form);
    }
    for (const Item& item : items_) {
      if (item.comment) {
        writer.WriteLine(qx::CommentLine(item.text), false);
      } else {
        const File& f = item.file;
        writer.WriteEntryLines(
            qx::SealerEntryLines(f.name, f.time, f.date, f.version, f.length, f.size, f.digest));
      }
    }
    char text[qx::kDigestBufferSize] = {};
    qx::SecureDigest(digest.get(), text, sizeof text, values_.at(HeaderKey::kDate).c_str());
    writer.WriteLine(qx::TrailerLine(text), false);
    if (digest_text != nullptr) {
      *digest_text = text;
    }
  }
  std::fclose(memory);
  std::string result(buffer, size);
  std::free(buffer);
  return result;
}

std::string HeaderBuilder::Text() const {
  return Build(nullptr);
}

std::string HeaderBuilder::Digest() const {
  std::string digest;
  Build(&digest);
  return digest;
}

void HeaderBuilder::Write(const std::string& path) const {
  WriteFile(path, Text());
}

std::string KeyedDigest(std::string_view bytes, const std::string& key) {
  qx::DigestPtr digest = qx::DigestNew();
  qx::DigestUpdate(digest.get(), bytes.data(), bytes.size());
  char text[qx::kDigestBufferSize] = {};
  qx::SecureDigest(digest.get(), text, sizeof text, key.c_str());
  return text;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      end = text.size();
    }
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line + "\r\n";
  }
  return text;
}

void SignPackage(const std::string& header, const qx::SigningKey& key, uint64_t sequence) {
  namespace fs = std::filesystem;
  const fs::path directory = fs::path(header).parent_path();
  qx::PackageSignature signature;
  signature.sequence = sequence;
  signature.header_sha256 = qx::Sha256OfFile(header).value;
  for (const auto& item : fs::recursive_directory_iterator(directory)) {
    const std::string path = item.path().string();
    if (!item.is_regular_file() || path == header ||
        path == header + std::string(qx::kSignatureSuffix) ||
        item.path() == fs::path(header).replace_extension(".htm")) {
      continue;
    }
    std::string name = fs::relative(item.path(), directory).string();
    std::replace(name.begin(), name.end(), '/', '\\');
    signature.files.push_back(
        {name, static_cast<int64_t>(item.file_size()), qx::Sha256OfFile(path).value});
  }
  const qx::SignatureResult<std::string> text = qx::SignatureText(signature, key);
  ASSERT_TRUE(text.ok()) << text.error;
  WriteFile(header + std::string(qx::kSignatureSuffix), text.value);
}

HeaderBuilder MakePackage(const std::string& directory, const std::string& appl_name,
                          const std::vector<std::pair<std::string, std::string>>& files,
                          const std::vector<std::string>& unchanged) {
  HeaderBuilder builder;
  builder.Set(HeaderKey::kApplName, appl_name);
  TempDir scratch;
  for (const auto& [name, bytes] : files) {
    const std::string stored_path = qx::JoinNativePath(directory, name);
    const bool keep = std::find(unchanged.begin(), unchanged.end(), name) != unchanged.end();
    if (keep) {
      WriteFile(stored_path, bytes);
    } else {
      const std::string source = scratch / "source";
      WriteFile(source, bytes);
      WriteFile(stored_path, "");
      const CommandResult gzip =
          RunCommand("gzip -n -6 -c " + ShellQuote(source) + " > " + ShellQuote(stored_path));
      EXPECT_EQ(gzip.status, 0) << gzip.err;
    }
    const std::string stored = ReadFile(stored_path);
    HeaderBuilder::File file;
    file.name = name;
    file.length = static_cast<int64_t>(stored.size());
    file.size = static_cast<int64_t>(bytes.size());
    file.digest = KeyedDigest(stored, appl_name);
    builder.AddFile(file);
  }
  builder.Write(directory + "/" + appl_name + ".qxw");
  return builder;
}

// Recomputes the trailer of an edited header: the digest rule written out
// again independently of the reader, so that the two check each other.
std::string Reseal(const std::string& text) {
  using namespace qx;  // NOLINT(google-build-using-namespace): the format's names
  std::vector<std::string> kept;
  DigestPtr digest = DigestNew();
  std::string date;
  bool in_entry = false;
  for (const std::string& line : SplitLines(text)) {
    const std::string_view trimmed = DigestedText(line);
    const std::string_view body = SkipBlanks(trimmed);
    const bool continued = !trimmed.empty() && IsPathSeparator(trimmed.back());
    if (in_entry) {
      DigestUpdate(digest.get(), trimmed.data(), trimmed.size());
      in_entry = continued;
    } else if (StartsWithNoCase(body, kDigestKey)) {
      continue;  // the old trailer
    } else if (StartsWithNoCase(line, kHeaderMagic)) {
      DigestUpdate(digest.get(), trimmed.data(), trimmed.size());
    } else if (body.empty() || body.front() == ';' || StartsWithNoCase(body, "CommandLine")) {
      // not digested
    } else {
      if (StartsWithNoCase(body, "Date")) {
        date = std::string(SkipBlanks(body.substr(body.find(':') + 1)));
      }
      in_entry = StartsWithNoCase(body, "File") && continued;
      DigestUpdate(digest.get(), trimmed.data(), trimmed.size());
    }
    kept.push_back(line);
  }
  char out[kDigestBufferSize] = {};
  SecureDigest(digest.get(), out, sizeof out, date.c_str());
  kept.push_back(TrailerLine(out));
  return JoinLines(kept);
}

// Every value and entry field of |record|, one per line, for comparing
// records with a readable difference; the size of its source text too when
// asked.
std::string DumpRecord(const qx::PackageHeader& record, bool with_source_size) {
  using namespace qx;  // NOLINT(google-build-using-namespace): the format's names
  const HeaderValues& v = record.values;
  std::ostringstream out;
  out << "format " << v.format_version.major << '.' << v.format_version.minor << '\n';
  for (const HeaderKeyInfo& info : kHeaderKeys) {
    out << info.name << " [" << HeaderTextValue(v, info.key) << "]\n";
  }
  out << "versions " << FormatVersionText(v.version) << ' ' << FormatVersionText(v.min_version)
      << " date " << v.month << '/' << v.day << '/' << v.year << " flags " << v.delete_package
      << v.combine_download_launch << v.company_identity << v.download_detail << v.update_required
      << v.registry_file_line << " neutral " << v.neutral_install_to << " digest "
      << v.header_digest << " directory " << record.package_directory << " corrupt "
      << record.corrupt;
  if (with_source_size) {
    out << " source " << record.source_text.size();
  }
  out << '\n';
  for (const auto& entry : record.entries) {
    out << (entry->comment ? "comment " : "file ") << entry->state << " [" << entry->name << "] ["
        << entry->neutral_name << "] " << entry->hours << ':' << entry->minutes << ':'
        << entry->seconds << ' ' << entry->month << '/' << entry->day << '/' << entry->year << ' '
        << FormatVersionText(entry->version) << ' ' << entry->length << ' ' << entry->size << " ["
        << entry->digest << "]\n";
  }
  return out.str();
}

}  // namespace qx_test
