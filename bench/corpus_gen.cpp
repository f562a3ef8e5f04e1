// Benchmark tool: writes a deterministic corpus, an application tree of a
// few thousand files (source and text, binaries, already-compressed files, a
// few large files, many tiny ones, nested directories; about 200 MB) and one
// single file of 200 MB. The same arguments always give the same bytes.
//
//   qx_corpus_gen DIR     writes DIR/tree/... and DIR/single.bin
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr uint64_t kSingleFileSize = 200ull * 1024 * 1024;

// xorshift64*: fast, and the same everywhere.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull) {}
  uint64_t Next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545F4914F6CDD1Dull;
  }
  // Uniform in [0, n).
  uint64_t Below(uint64_t n) { return Next() % n; }
  // Between lo and hi, most values near lo (size distributions of real trees).
  uint64_t Skewed(uint64_t lo, uint64_t hi) {
    const double u = static_cast<double>(Next() >> 11) / 9007199254740992.0;
    return lo + static_cast<uint64_t>(static_cast<double>(hi - lo) * u * u * u);
  }

 private:
  uint64_t state_;
};

const char* const kWords[] = {
    "if",          "else",    "return",  "const",   "auto",     "for",     "while",     "int",
    "size_t",      "std",     "string",  "vector",  "buffer",   "count",   "offset",    "result",
    "package",     "header",  "digest",  "window",  "member",   "stored",  "entry",     "client",
    "status",      "value",   "index",   "length",  "name",     "path",    "directory", "file",
    "static",      "void",    "bool",    "true",    "false",    "nullptr", "namespace", "class",
    "private",     "public",  "struct",  "include", "define",   "error",   "message",   "update",
    "the",         "of",      "and",     "to",      "a",        "in",      "is",        "that",
    "application", "install", "version", "option",  "settings", "default", "user",      "system"};
constexpr size_t kWordCount = sizeof kWords / sizeof kWords[0];

// Source-like text: indented lines of identifiers, operators and comments.
void AppendText(std::string& out, size_t size, Random& random) {
  static const char* const kPunctuation[] = {" = ", "(", ");",   ", ", "->", "::",   " + ", " {",
                                             "}",   ";", " // ", "[",  "]",  " == ", " < ", "."};
  int indent = 0;
  while (out.size() < size) {
    out.append(static_cast<size_t>(indent) * 2, ' ');
    const int tokens = 2 + static_cast<int>(random.Below(10));
    for (int t = 0; t < tokens; ++t) {
      out += kWords[random.Skewed(0, kWordCount)];
      if (random.Below(3) == 0) {
        out += std::to_string(random.Skewed(0, 5000));
      }
      out += kPunctuation[random.Below(16)];
    }
    out += '\n';
    const uint64_t r = random.Below(8);
    if (r == 0 && indent < 6) {
      ++indent;
    } else if (r == 1 && indent > 0) {
      --indent;
    }
  }
  out.resize(size);
}

// Machine-code-like bytes: a skewed opcode distribution, growing addresses,
// string tables and zero padding.
void AppendBinary(std::string& out, size_t size, Random& random) {
  uint32_t address = static_cast<uint32_t>(random.Below(1 << 20)) * 16;
  while (out.size() < size) {
    const uint64_t kind = random.Below(100);
    if (kind < 70) {
      for (int i = 0; i < 64; ++i) {
        out += static_cast<char>(random.Skewed(0, 256));
        if (random.Below(6) == 0) {
          address += static_cast<uint32_t>(random.Below(64));
          for (int b = 0; b < 4; ++b) {
            out += static_cast<char>((address >> (8 * b)) & 0xFF);
          }
        }
      }
    } else if (kind < 85) {
      for (int i = 0; i < 8; ++i) {
        out += kWords[random.Below(kWordCount)];
        out += random.Below(2) == 0 ? '_' : '\0';
      }
    } else if (kind < 95) {
      out.append(16 + random.Below(240), '\0');
    } else {
      for (int i = 0; i < 32; ++i) {
        out += static_cast<char>(random.Next() & 0xFF);
      }
    }
  }
  out.resize(size);
}

// Bytes that no compressor can shrink (images, archives).
void AppendCompressed(std::string& out, size_t size, Random& random) {
  out.reserve(size);
  while (out.size() + 8 <= size) {
    const uint64_t v = random.Next();
    out.append(reinterpret_cast<const char*>(&v), 8);
  }
  while (out.size() < size) {
    out += static_cast<char>(random.Next() & 0xFF);
  }
}

// Table rows: numbers and repeated names.
void AppendTable(std::string& out, size_t size, Random& random) {
  while (out.size() < size) {
    out += std::to_string(random.Below(1000000));
    out += ';';
    out += kWords[random.Below(kWordCount)];
    out += ';';
    out += std::to_string(random.Skewed(0, 100000)) + "." + std::to_string(random.Below(100));
    out +=
        ";2024-0" + std::to_string(1 + random.Below(9)) + "-1" + std::to_string(random.Below(10));
    out += '\n';
  }
  out.resize(size);
}

enum class Kind { kText, kBinary, kCompressed, kTable };

std::string Content(Kind kind, size_t size, Random& random) {
  std::string out;
  out.reserve(size + 512);
  switch (kind) {
    case Kind::kText:
      AppendText(out, size, random);
      break;
    case Kind::kBinary:
      AppendBinary(out, size, random);
      break;
    case Kind::kCompressed:
      AppendCompressed(out, size, random);
      break;
    case Kind::kTable:
      AppendTable(out, size, random);
      break;
  }
  return out;
}

bool WriteWhole(const fs::path& path, std::string_view bytes) {
  fs::create_directories(path.parent_path());
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    return false;
  }
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

struct Group {
  const char* directory;  // may hold one %d for a sub-directory number
  int directories;
  const char* extension;
  Kind kind;
  int files;
  uint64_t min_size;
  uint64_t max_size;
};

// The application tree: about 3600 files and 200 MB.
const Group kGroups[] = {
    {"src/module%d/impl", 24, ".cpp", Kind::kText, 700, 300, 120000},
    {"src/module%d/include/api", 24, ".h", Kind::kText, 700, 200, 40000},
    {"scripts/tools%d", 6, ".py", Kind::kText, 120, 300, 30000},
    {"share/doc/html/chapter%d", 12, ".html", Kind::kText, 300, 1000, 60000},
    {"share/locale/lang%d/LC_MESSAGES", 40, ".mo", Kind::kBinary, 200, 2000, 60000},
    {"etc/conf.d/unit%d", 30, ".conf", Kind::kText, 700, 10, 1000},
    {"var/empty%d", 50, ".keep", Kind::kText, 500, 0, 64},
    {"bin", 1, ".exe", Kind::kBinary, 30, 100000, 3000000},
    {"lib/plugins/group%d/sub", 8, ".so", Kind::kBinary, 180, 20000, 1200000},
    {"resources/images/size%d", 5, ".png", Kind::kCompressed, 300, 1000, 400000},
    {"resources/archives", 1, ".zip", Kind::kCompressed, 30, 50000, 1500000},
    {"data/tables/part%d", 4, ".csv", Kind::kTable, 40, 5000, 400000},
};

struct Large {
  const char* path;
  Kind kind;
  uint64_t size;
};

const Large kLargeFiles[] = {
    {"bin/main-application.exe", Kind::kBinary, 24u << 20},
    {"data/catalogue.csv", Kind::kTable, 16u << 20},
    {"resources/media/intro.mpg", Kind::kCompressed, 12u << 20},
    {"data/store.db", Kind::kBinary, 10u << 20},
};

// The single large file: alternating stretches of every kind of content.
bool WriteSingleFile(const fs::path& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    return false;
  }
  Random random(7);
  uint64_t written = 0;
  bool ok = true;
  while (ok && written < kSingleFileSize) {
    static const Kind kMix[] = {Kind::kBinary, Kind::kText,   Kind::kBinary, Kind::kCompressed,
                                Kind::kTable,  Kind::kBinary, Kind::kText,   Kind::kCompressed};
    const Kind kind = kMix[random.Below(8)];
    uint64_t size = random.Skewed(64 << 10, 4 << 20);
    if (size > kSingleFileSize - written) {
      size = kSingleFileSize - written;
    }
    const std::string bytes = Content(kind, size, random);
    ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    written += size;
  }
  return std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  const fs::path root(argv[1]);
  const fs::path tree = root / "tree";
  Random random(2024);
  uint64_t total = 0;
  int files = 0;
  char directory[256];
  for (const Group& group : kGroups) {
    for (int i = 0; i < group.files; ++i) {
      std::snprintf(directory, sizeof directory, group.directory,
                    static_cast<int>(random.Below(static_cast<uint64_t>(group.directories))));
      const uint64_t size = random.Skewed(group.min_size, group.max_size);
      const std::string name =
          std::string(kWords[random.Below(kWordCount)]) + "_" + std::to_string(i) + group.extension;
      if (!WriteWhole(tree / directory / name, Content(group.kind, size, random))) {
        std::perror(name.c_str());
        return 1;
      }
      total += size;
      ++files;
    }
  }
  for (const Large& large : kLargeFiles) {
    if (!WriteWhole(tree / large.path, Content(large.kind, large.size, random))) {
      std::perror(large.path);
      return 1;
    }
    total += large.size;
    ++files;
  }
  if (!WriteSingleFile(root / "single.bin")) {
    std::perror("single.bin");
    return 1;
  }
  std::printf("tree: %d files, %.1f MB; single file: %.1f MB\n", files,
              static_cast<double>(total) / 1048576.0,
              static_cast<double>(kSingleFileSize) / 1048576.0);
  return 0;
}
