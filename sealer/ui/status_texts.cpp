// The sealer window's string table.
#include "sealer/ui/status_texts.h"

#include <algorithm>
#include <iterator>

namespace qx::ui {

namespace {

struct StringEntry {
  int id;
  std::string_view text;
};

// Sorted by id.
constexpr StringEntry kStrings[] = {
    {100, "File Menu"},
    {101, "Create new control file"},
    {102, "Open an existing control file"},
    {103, "Save control file"},
    {104, "Save control file as ..."},
    {105, "Exit Tarnwick Web Lite Sealer"},
    {106, "Choose the key that signs sealed packages, or stop signing"},
    {151, "Open this control file"},
    {152, "Open this control file"},
    {153, "Open this control file"},
    {154, "Open this control file"},
    {300, "Help Menu"},
    {301, "Help on Tarnwick Web Lite Sealer"},
    {302, "Help contents"},
    {303, "Help on Help"},
    {304, "About Tarnwick Web Lite Sealer"},
    {400, "System Menu"},
    {999, "Welcome to Tarnwick Web Lite Sealer"},
    {2051, "The owner/creator of the package."},
    {2053, "Application name; used as client cache directory for package components."},
    {2054, "Command and options to start the application."},
    {2055, "Client installation directory path, relative to application cache root directory."},
    {2063, "Target directory to place sealed package, prior to transferring to Web server."},
    {2064, "Source directory for package components."},
    {2066, "Browse for directory to seal from."},
};

}  // namespace

std::string_view StatusText(int id) {
  const auto* found = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                                       [](const StringEntry& e, int key) { return e.id < key; });
  return found != std::end(kStrings) && found->id == id ? found->text : std::string_view();
}

}  // namespace qx::ui
