// Fuzz target for the safe-name rule: any bytes as a relative name. A fault
// found must be in the name; a name found safe must stay inside any
// directory it is joined to, lexically normalised, and keep that through the
// neutral form, its parent prefixes and being joined to itself.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/format/header_reader.h"
#include "core/fsutil/path_text.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using qx::NameFault;
using qx_fuzz::Require;

// Directories a safe name is joined to: absolute and relative, with and
// without a trailing separator.
constexpr std::string_view kDirectories[] = {"/srv/cache", "/srv/cache/", "cache", "/"};

bool HasAny(std::string_view name, std::string_view characters) {
  return name.find_first_of(characters) != std::string_view::npos;
}

bool HasControl(std::string_view name) {
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      return true;
    }
  }
  return false;
}

// Whether any component (between "\" and "/") satisfies |bad|.
template <typename Predicate>
bool AnyComponent(std::string_view name, Predicate bad) {
  size_t start = 0;
  for (;;) {
    const size_t end = name.find_first_of("\\/", start);
    const std::string_view part =
        name.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (bad(part)) {
      return true;
    }
    if (end == std::string_view::npos) {
      return false;
    }
    start = end + 1;
  }
}

bool IsDotComponent(std::string_view part) {
  return part.empty() || part == "." || part == "..";
}

bool HasEdgeBlank(std::string_view part) {
  return !part.empty() && (part.front() == ' ' || part.back() == ' ');
}

bool IsLong(std::string_view part) {
  return part.size() > qx::kMaxNameComponent;
}

// The fault reported is one the name has.
bool FaultIsThere(std::string_view name, NameFault fault) {
  switch (fault) {
    case NameFault::kNone:
      return true;
    case NameFault::kEmpty:
      return name.empty();
    case NameFault::kAbsolute:
      return !name.empty() && qx::IsPathSeparator(name.front());
    case NameFault::kDrive:
      return name.size() >= 2 && name[1] == ':';
    case NameFault::kDotComponent:
      return AnyComponent(name, IsDotComponent);
    case NameFault::kControlCharacter:
      return HasControl(name);
    case NameFault::kNeutralSeparator:
      return HasAny(name, "|");
    case NameFault::kEdgeBlank:
      return AnyComponent(name, HasEdgeBlank);
    case NameFault::kQuote:
      return HasAny(name, "\"");
    case NameFault::kSemicolon:
      return HasAny(name, ";");
    case NameFault::kLongComponent:
      return AnyComponent(name, IsLong);
  }
  return false;
}

// A safe name has none of the faults at all.
void CheckSafeShape(std::string_view name) {
  Require(!name.empty() && !qx::IsPathSeparator(name.front()), "safe name is empty or absolute");
  Require(name.size() < 2 || name[1] != ':', "safe name has a drive");
  Require(!HasControl(name) && !HasAny(name, "|\";"), "safe name has a refused character");
  Require(!AnyComponent(name, IsDotComponent), "safe name has an empty, . or .. component");
  Require(!AnyComponent(name, HasEdgeBlank), "safe name has a component with an edge blank");
  Require(!AnyComponent(name, IsLong), "safe name has a long component");
}

// Joined to |directory| and normalised, the name stays strictly inside it.
void CheckStaysInside(std::string_view directory, std::string_view name) {
  namespace fs = std::filesystem;
  const std::string joined = qx::JoinNativePath(directory, name);
  Require(joined.find('\\') == std::string::npos, "joined path keeps a backslash");
  const fs::path base = fs::path(std::string(directory)).lexically_normal();
  const fs::path inside = fs::path(joined).lexically_normal().lexically_relative(base);
  Require(!inside.empty(), "joined path is not below its directory");
  for (const fs::path& part : inside) {
    Require(part != ".." && part != "." && !part.empty(), "joined path leaves its directory");
  }
}

void CheckSafeName(std::string_view name) {
  CheckSafeShape(name);
  for (std::string_view directory : kDirectories) {
    CheckStaysInside(directory, name);
  }
  // Each directory on the way to the file is itself a safe name.
  for (size_t cut = name.find_first_of("\\/"); cut != std::string_view::npos;
       cut = name.find_first_of("\\/", cut + 1)) {
    Require(qx::IsSafeRelativeName(name.substr(0, cut)), "parent of a safe name is unsafe");
  }
  // The neutral form, as headers keep names, turns back into a safe name.
  const std::string neutral = qx::NeutralPath(name);
  Require(!HasAny(neutral, "\\/"), "neutral form keeps a separator");
  std::string back;
  qx::AppendNeutralPath("\\", back, neutral);
  Require(qx::IsSafeRelativeName(back), "neutral form does not turn back into a safe name");
  Require(qx::NativeSeparators(back) == qx::NativeSeparators(name),
          "neutral form changes the name");
  // An application name is one safe component.
  if (qx::IsSafeApplicationName(name)) {
    Require(!HasAny(name, "\\/"), "application name with a separator");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view name(reinterpret_cast<const char*>(data), size);
  const NameFault fault = qx::CheckRelativeName(name);
  const char* text = qx::NameFaultText(fault);
  Require(text != nullptr && text[0] != '\0', "no fault text");
  Require(qx::IsSafeRelativeName(name) == (fault == NameFault::kNone), "verdicts disagree");
  Require(FaultIsThere(name, fault), "reported fault is not in the name");
  if (qx::IsSafeApplicationName(name)) {
    Require(fault == NameFault::kNone, "unsafe application name accepted");
  }
  // Any value of the enumeration has a text, even one no check returns.
  if (size > 0) {
    const char* any = qx::NameFaultText(static_cast<NameFault>(data[0]));
    Require(any != nullptr && any[0] != '\0', "no text for a fault value");
  }
  // A name joined to itself keeps the verdict: the faults are those of its parts.
  for (const char* separator : {"/", "\\"}) {
    const std::string doubled = std::string(name) + separator + std::string(name);
    Require(qx::IsSafeRelativeName(doubled) == (fault == NameFault::kNone),
            "name joined to itself changes the verdict");
  }
  if (fault == NameFault::kNone) {
    CheckSafeName(name);
  }
  return 0;
}
