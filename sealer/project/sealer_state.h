#pragma once

// The program state the engine works on: project, settings, the modified
// flag and the running seal. Sealer engine, without a window.

#include <array>
#include <cstddef>
#include <string>

#include "core/signature/signing_key.h"
#include "sealer/project/sealer_project.h"

namespace qx {

inline constexpr size_t kRecentProjectCount = 4;

// The sealer's settings between runs.
struct SealerSettings {
  std::string owner;              // default owner of a new project
  std::string copyright;          // default copyright of a new project
  std::string project_directory;  // where project file dialogs start
  std::string signing_key;        // the secret key file seals are signed with
  // Seals write the install page; its base URL as the settings file spells
  // it (empty: the page finds the header from its own address).
  bool install_page = false;
  std::string install_page_base_url;
  // The main window's size when it last closed, in pixels; 0 when unknown.
  int window_width = 0;
  int window_height = 0;
  // Most recent first; the used slots are always a prefix.
  std::array<std::string, kRecentProjectCount> recent_projects;
  bool recent_list_changed = false;  // the File menu's recent items are stale
};

// How a seal runs.
struct SealOptions {
  // Threads that store files; 0: one per processor the process may use.
  int jobs = 0;
  // Keep the stored files of an earlier seal whose sources have not changed.
  bool reuse = true;
  // Signs the package with this key when not empty: NAME.qxw.sig is
  // published with the header.
  SigningKey signing_key;
  // Without a key, removes the signature an earlier seal published instead
  // of refusing to seal over it.
  bool drop_signature = false;
  // Writes NAME-install.html beside the landing page, published with the
  // header.
  bool install_page = false;
  // The URL of the directory the put-to directory is served as, under which
  // the install page's link names the header (a "/" is added when it lacks
  // one); empty: the page's script takes the header's address from its own.
  std::string install_page_base_url;
};

// The program state the engine works on; the window and qxweb each create
// one for the life of the process.
struct SealerState {
  SealerProject project;
  SealerSettings settings;
  // The form holds changes that are not in the project file.
  bool project_modified = false;
  // A seal run is under way. Its progress step may deliver events, so
  // commands that would change the form or start another run are refused
  // until it ends.
  bool seal_running = false;
  SealOptions seal_options;
};

// Beeps and returns true while a seal runs: the caller then does nothing.
bool RefuseWhileSealing(const SealerState& state);

}  // namespace qx
