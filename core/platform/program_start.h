#pragma once

// Starting a program with its parameters in a working directory, without a
// shell: the parameter splitting, the program lookup and the start results.
// Platform layer.

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

#include "qxwebcore_export.h"

namespace qx {

// Start results, as the home platform's start request gives them: any value
// above 32 means started, 32 or less is an error number.
inline constexpr int kStartNotFound = 2;
inline constexpr int kStartAccessDenied = 5;
inline constexpr int kStartNoMemory = 8;    // also for any other lack of resources
inline constexpr int kStartBadFormat = 11;  // the file is no program this system runs
inline constexpr int kStartNothing = 31;
inline constexpr int kStartedOk = 33;

// Splits |parameters| into words as a shell would, but without a shell:
// blanks separate words; '...' keeps everything in it literally; "..." keeps
// everything but \" and \\, which stand for " and \; a backslash outside
// quotes takes a following blank, quote or backslash literally and is an
// ordinary character elsewhere, so that "data\file" keeps its separator. Nothing is expanded ($, *,
// ~) and ; | & < > ( ) are ordinary characters. An unclosed quote runs to the end.
QXWEBCORE_EXPORT std::vector<std::string> SplitParameters(std::string_view parameters);

// Starts |program| with |arguments| (argv[0] is |program|) in
// |working_directory| (empty: the caller's), without a shell. The caller's
// own current directory is never changed. A program without "/" is looked up
// in the working directory first, then along PATH; a relative one with "/"
// is taken from the working directory. Returns kStartedOk and puts the
// child's pid in |*pid| (the caller then waits for it; with a null |pid| the
// child is reaped in the background), or kStartNotFound, kStartAccessDenied,
// kStartNoMemory, kStartBadFormat, or kStartNothing for an empty |program|.
QXWEBCORE_EXPORT int StartProgram(const std::string& program,
                                  const std::vector<std::string>& arguments,
                                  const std::string& working_directory, pid_t* pid);

}  // namespace qx
