#pragma once

// Test support for the format and package layer tests: HeaderBuilder writes
// package headers as the sealer does, and MakePackage makes whole packages.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "core/format/header_lines.h"
#include "core/format/header_reader.h"
#include "core/signature/signing_key.h"

namespace qx_test {

// Writes package headers the way the sealer does (magic "1.0", its comment
// block, every key line, entries and comments in order, the trailer keyed by
// the Date value), for tests that need headers without sealing anything.
class HeaderBuilder {
 public:
  struct File {
    std::string name;
    int64_t length = 0;
    int64_t size = 0;
    std::string digest = std::string(32, '0');
    std::string time = "10:20:58";
    std::string date = "12/06/1997";
    std::string version = "01.00.00";
  };

  // Defaults: application "Demo", dated 12/06/1997, every other key empty,
  // No or Optional.
  HeaderBuilder();

  HeaderBuilder& Set(qx::HeaderKey key, std::string value);
  HeaderBuilder& AddFile(File file);
  HeaderBuilder& AddComment(std::string text);
  // Gives the listed file |name| the Size |size|, whatever it expands to.
  HeaderBuilder& SetFileSize(std::string_view name, int64_t size);
  // Writes the library writer's forms (empty values as "Key: ", format 2.0
  // with the RegistryFile line) instead of the sealer's.
  HeaderBuilder& LibraryForm();

  const std::string& Value(qx::HeaderKey key) const;
  // The header text, CR LF line ends.
  std::string Text() const;
  // The digest the trailer holds.
  std::string Digest() const;
  // Writes Text() to |path|.
  void Write(const std::string& path) const;

 private:
  std::string Build(std::string* digest) const;

  std::map<qx::HeaderKey, std::string> values_;
  struct Item {
    bool comment = false;
    File file;
    std::string text;
  };
  std::vector<Item> items_;
  bool library_form_ = false;
};

// A package made in |directory| from (name, bytes) pairs: each file stored
// as a gzip member made by the gzip program (or unchanged when its name is
// listed in |unchanged|), with its digest keyed by |appl_name|, and the header
// |appl_name|.qxw listing them. Returns the builder, for further changes.
HeaderBuilder MakePackage(const std::string& directory, const std::string& appl_name,
                          const std::vector<std::pair<std::string, std::string>>& files,
                          const std::vector<std::string>& unchanged = {});

// The lines of a header's text without their line ends (CR LF or LF), and
// lines joined back with CR LF after each.
std::vector<std::string> SplitLines(const std::string& text);
std::string JoinLines(const std::vector<std::string>& lines);

// Every value and entry field of |record|, one per line, for comparing
// records with a readable difference; the size of its source text too when
// asked.
std::string DumpRecord(const qx::PackageHeader& record, bool with_source_size = false);

// |text|, an edited header, with its trailer computed anew (the old one
// dropped), as anyone can who edits a header.
std::string Reseal(const std::string& text);

// Writes HEADER.sig beside |header| as a signed seal does, with |key| and
// |sequence|: the header's SHA-256 and, for every other file in its
// directory (the stored files, under their entry names), its Length and
// SHA-256.
void SignPackage(const std::string& header, const qx::SigningKey& key, uint64_t sequence);

// Secure digest of |bytes| keyed by |key|.
std::string KeyedDigest(std::string_view bytes, const std::string& key);

}  // namespace qx_test
