#pragma once

// The system registry of the home platform as a file: keys with a class text
// and string values, kept as sections of registry.ini in the configuration
// directory. Platform layer.

#include <optional>
#include <string>
#include <string_view>

#include "qxwebcore_export.h"

namespace qx {

// Name of the registry file in the configuration directory.
inline constexpr std::string_view kRegistryFileName = "registry.ini";

// Whether CreateKey made a new key or found one.
enum class KeyDisposition { kCreated, kOpened };

// Registry keys as sections of a private-profile file (section = key path
// such as "Software\TARNWICK\Tarnwick WEB\Demo", keys = value names), so
// every change is an atomic replacement of the file. Key paths and value
// names compare without ASCII case, as the registry's do. Each key is a
// section of its own: a path's parents are not kept as keys. A key path or
// value name that a profile cannot hold unchanged (empty, "]" in a path, a
// line break or NUL, blanks at either end; for a name "=" or a leading "["
// or ";") is refused, as is a value holding a line break or NUL.
class QXWEBCORE_EXPORT RegistryStore {
 public:
  // The per-user registry.ini (no file when there is no configuration directory).
  RegistryStore();
  // The registry kept in the file at |path|.
  explicit RegistryStore(std::string path);

  // Creates the key with |class_text|, or opens it when it exists (its class
  // text then stays). |disposition| (may be null) tells which. False when the
  // key neither exists nor could be created.
  bool CreateKey(std::string_view key_path, std::string_view class_text,
                 KeyDisposition* disposition);
  // Sets the string value |name| of an existing key. False when there is no
  // such key or the value could not be written.
  bool SetValue(std::string_view key_path, std::string_view name, std::string_view value);
  // The value |name| of the key; nullopt when the key or the value is missing.
  std::optional<std::string> ReadValue(std::string_view key_path, std::string_view name) const;
  bool KeyExists(std::string_view key_path) const;
  // Deletes the key with its values. False when there was no such key or it
  // could not be deleted.
  bool DeleteKey(std::string_view key_path);

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace qx
