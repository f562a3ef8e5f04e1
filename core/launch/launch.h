#pragma once

// Starting a cached application from its package directory, after turning
// stored files back into their expanded form, and checking the size of a
// bitmap resource. Launch layer.

#include <sys/types.h>

#include <string>
#include <vector>

#include "core/format/header_reader.h"
#include "core/platform/bitmap_source.h"
#include "core/platform/program_start.h"
#include "core/platform/user_interface.h"
#include "qxwebcore_export.h"

namespace qx {

// A stored file could not be expanded; nothing was started.
inline constexpr int kLaunchExpandFailed = -1;
// A null argument or no memory: the value the start request gives when it
// has nothing to start.
inline constexpr int kLaunchRefused = kStartNothing;

struct LaunchOptions {
  std::vector<std::string> extra_arguments;  // appended after the command line's own parameters
  pid_t* process = nullptr;                  // receives the started child's pid
};

// Expands every stored file of the record's package in place: each into a
// temporary first, and the stored files are replaced only when all of them
// expanded, so a broken member leaves the package as it was. Comment
// entries and named files are left alone. kPackageOk, or
// kLaunchExpandFailed (also when a copy over a stored file fails; the files
// after it are then left stored).
QXWEBCORE_EXPORT int ExpandStoredFiles(PackageHeader* record);

// Starts the record's CommandLine in its package directory. While the record
// is in stored form, every file entry except the header's named files is
// first expanded into a temporary file; when all expanded, each temporary
// replaces its stored file, else they are all deleted, no stored file
// changes and kLaunchExpandFailed is returned. The program is the command
// line's first blank-delimited word and must lie inside the package
// directory (also after following links); the rest is split into
// parameters like a shell's words, without a shell. Returns kStartedOk, a
// start error of StartProgram (kStartAccessDenied for a program reaching
// outside the package), kLaunchRefused for a null |owner| or |record|, or
// kStartNothing for an empty command line. The caller's current directory
// is never changed.
QXWEBCORE_EXPORT int LaunchApplication(WindowHandle owner, PackageHeader* record,
                                       const LaunchOptions& options = {});

// 0 when the module has the bitmap |name| with exactly |width| and |height|;
// -1 otherwise, and for a handle below kFirstModuleHandle or a null name.
QXWEBCORE_EXPORT int CheckBitmapSize(ModuleHandle module, const char* name, int width, int height);

}  // namespace qx
