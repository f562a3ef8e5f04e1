#pragma once

// Test support for tests of every layer: temporary directories, file helpers,
// deterministic test bytes and shell commands.

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace qx_test {

// A fresh directory under $TMPDIR, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + relative.
  std::string operator/(std::string_view relative) const;

 private:
  std::string path_;
};

// Writes |bytes| to |path|, creating parent directories.
void WriteFile(const std::string& path, std::string_view bytes);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
// The file's last-write time in whole seconds (0 when it cannot be read).
time_t WriteTimeOf(const std::string& path);

// Deterministic pseudo-random bytes (xorshift) for test inputs.
std::string RandomBytes(size_t count, uint64_t seed);
// Compressible text of about |count| bytes.
std::string TextBytes(size_t count, uint64_t seed);

struct CommandResult {
  int status = -1;  // exit status, or -1 when the command did not exit normally
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs |command| through /bin/sh, optionally feeding |input| on stdin.
CommandResult RunCommand(const std::string& command, std::string_view input = {});

// Quotes |text| for the shell.
std::string ShellQuote(std::string_view text);

// Path of the qxweb program under test.
std::string QxwebPath();
// Path of the source tree.
std::string SourceDir();

}  // namespace qx_test
