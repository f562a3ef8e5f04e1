// The core library's version, fixed when the library is built and read by
// the programs that report it. Platform layer.
#include "core/platform/library_version.h"

namespace qx {

const char* LibraryVersion() {
  return QX_LIBRARY_VERSION;
}

}  // namespace qx
