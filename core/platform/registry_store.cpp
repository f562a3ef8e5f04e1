// The registry file: keys as profile sections, the class text under a name no
// value can take, and values quoted where a profile would trim them. Platform
// layer.
#include "core/platform/registry_store.h"

#include <limits>
#include <utility>
#include <vector>

#include "core/platform/config_directory.h"
#include "core/platform/private_profile.h"

namespace qx {

namespace {

// The class text lives in the key's section under this name; SetValue refuses
// it, so no value can overwrite it. A key thereby exists before its first value.
constexpr std::string_view kClassName = "(class)";

// What the profile layer trims from names and values.
constexpr std::string_view kBlanks = " \t\r\v\f";

bool HasEdgeBlank(std::string_view text) {
  return !text.empty() && (kBlanks.find(text.front()) != std::string_view::npos ||
                           kBlanks.find(text.back()) != std::string_view::npos);
}

// A trimmed name would alias another key, so such names are refused rather
// than stored changed. The profile layer refuses the rest ("]", line breaks).
bool IsStorableKeyPath(std::string_view key_path) {
  return !key_path.empty() && !HasEdgeBlank(key_path);
}

bool IsStorableValueName(std::string_view name) {
  return !name.empty() && !HasEdgeBlank(name) && !ProfileNamesEqual(name, kClassName);
}

// The profile trims values; a value with blanks at either end, or one that
// starts with a quote, is kept in quotes so it reads back unchanged.
std::string EncodeValue(std::string_view value) {
  if (HasEdgeBlank(value) || (!value.empty() && value.front() == '"')) {
    std::string quoted;
    quoted.reserve(value.size() + 2);
    quoted += '"';
    quoted.append(value);
    quoted += '"';
    return quoted;
  }
  return std::string(value);
}

std::string DecodeValue(std::string_view text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    text = text.substr(1, text.size() - 2);
  }
  return std::string(text);
}

bool ContainsName(const std::vector<std::string>& names, std::string_view name) {
  for (const std::string& known : names) {
    if (ProfileNamesEqual(known, name)) {
      return true;
    }
  }
  return false;
}

}  // namespace

RegistryStore::RegistryStore() : path_(ConfigFilePath(std::string(kRegistryFileName))) {}

RegistryStore::RegistryStore(std::string path) : path_(std::move(path)) {}

bool RegistryStore::CreateKey(std::string_view key_path, std::string_view class_text,
                              KeyDisposition* disposition) {
  if (path_.empty() || !IsStorableKeyPath(key_path)) {
    return false;
  }
  if (KeyExists(key_path)) {
    if (disposition != nullptr) {
      *disposition = KeyDisposition::kOpened;
    }
    return true;
  }
  if (!WriteProfileString(path_, key_path, kClassName, EncodeValue(class_text))) {
    return false;
  }
  if (disposition != nullptr) {
    *disposition = KeyDisposition::kCreated;
  }
  return true;
}

bool RegistryStore::SetValue(std::string_view key_path, std::string_view name,
                             std::string_view value) {
  return IsStorableValueName(name) && KeyExists(key_path) &&
         WriteProfileString(path_, key_path, name, EncodeValue(value));
}

std::optional<std::string> RegistryStore::ReadValue(std::string_view key_path,
                                                    std::string_view name) const {
  if (path_.empty() || !IsStorableKeyPath(key_path) || !IsStorableValueName(name) ||
      !ContainsName(ReadProfileKeys(path_, key_path), name)) {
    return std::nullopt;
  }
  std::string text;
  ReadProfileString(path_, key_path, name, "", std::numeric_limits<size_t>::max(), text);
  return DecodeValue(text);
}

bool RegistryStore::KeyExists(std::string_view key_path) const {
  return !path_.empty() && IsStorableKeyPath(key_path) &&
         ContainsName(ReadProfileSections(path_), key_path);
}

bool RegistryStore::DeleteKey(std::string_view key_path) {
  return KeyExists(key_path) && WriteProfileString(path_, key_path, std::nullopt, std::nullopt);
}

}  // namespace qx
