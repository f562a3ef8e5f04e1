#pragma once

// Recording a cached application in the system registry and removing that
// record. Launch layer.

#include <string>
#include <string_view>

#include "core/platform/user_interface.h"
#include "qxwebcore_export.h"

namespace qx {

// The class text an application's key is created with.
inline constexpr std::string_view kApplicationKeyClass = "Application Global Data";
// Names of the key's values, written in this order.
inline constexpr std::string_view kInstallToValue = "InstallTo";
inline constexpr std::string_view kVersionValue = "Version";
inline constexpr std::string_view kDescriptionValue = "Description";

// "Software\TARNWICK\Tarnwick WEB\" followed by |name| as given.
QXWEBCORE_EXPORT std::string ApplicationKeyPath(std::string_view name);

// Creates or opens the application's key and writes InstallTo, Version and
// Description. 1 when all of it was written; otherwise 0 after a box owned
// by |owner| says so, and the key is deleted (also when it existed before),
// so a failed registration leaves no key behind.
QXWEBCORE_EXPORT int RegisterApplication(WindowHandle owner, std::string_view name,
                                         std::string_view install_to, std::string_view version,
                                         std::string_view description);

// Deletes the application's key. 1 when deleted; otherwise 0 after a box
// owned by |owner| says so.
QXWEBCORE_EXPORT int UnregisterApplication(WindowHandle owner, std::string_view name);

}  // namespace qx
