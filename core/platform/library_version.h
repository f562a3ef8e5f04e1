#pragma once

// The version of the core library a program runs with, which for a program
// linked against the shared library may be newer than the one it was built
// with. Platform layer.

#include "qxwebcore_export.h"

namespace qx {

// "major.minor.patch" of the library.
QXWEBCORE_EXPORT const char* LibraryVersion();

}  // namespace qx
