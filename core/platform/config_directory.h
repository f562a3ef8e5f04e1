#pragma once

// The per-user configuration directory under $XDG_CONFIG_HOME or $HOME, and
// the paths of the files kept in it. Platform layer.

#include <string>

#include "qxwebcore_export.h"

namespace qx {

// The per-user configuration directory that stands in for the system
// directory of the home platform: $XDG_CONFIG_HOME/tarnwick/, else
// $HOME/.config/tarnwick/. Always ends with "/"; empty when neither
// variable is set to an absolute path.
QXWEBCORE_EXPORT std::string ConfigDirectory();

// ConfigDirectory() joined with |file_name|, creating the directory (and its
// parents) first. Empty when there is no configuration directory or it
// cannot be created.
QXWEBCORE_EXPORT std::string ConfigFilePath(const std::string& file_name);

}  // namespace qx
