#pragma once

// The sealer window's string table: the status texts of menu items, popups
// and form fields, by their ids. Sealer window.

#include <string_view>

namespace qx::ui {

// The id ShowStatusText ignores.
inline constexpr int kNoStatusText = 65535;
inline constexpr int kWelcomeText = 999;

// The text of string |id|; empty when there is none.
std::string_view StatusText(int id);

}  // namespace qx::ui
