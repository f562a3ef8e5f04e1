#pragma once

// The per-user configuration and data directories under $XDG_CONFIG_HOME,
// $XDG_DATA_HOME or $HOME, and the paths of the files kept in them. Platform layer.

#include <string>

#include "qxwebcore_export.h"

namespace qx {

// The per-user configuration directory that stands in for the system
// directory of the home platform: $XDG_CONFIG_HOME/tarnwick/, else
// $HOME/.config/tarnwick/. Always ends with "/"; empty when neither
// variable is set to an absolute path.
QXWEBCORE_EXPORT std::string ConfigDirectory();

// The per-user data directory, where the program keeps what the user makes
// and caches: $XDG_DATA_HOME/tarnwick/, else $HOME/.local/share/tarnwick/.
// Always ends with "/"; empty when neither variable is set to an absolute path.
QXWEBCORE_EXPORT std::string DataDirectory();

// ConfigDirectory() joined with |file_name|, creating the directory (and its
// parents) first. Empty when there is no configuration directory or it
// cannot be created.
QXWEBCORE_EXPORT std::string ConfigFilePath(const std::string& file_name);

}  // namespace qx
