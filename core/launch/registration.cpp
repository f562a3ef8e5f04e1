// Registration of a cached application: its key in the registry store, the
// three values, and the boxes of a failure. Launch layer.
#include "core/launch/registration.h"

#include <new>

#include "core/platform/registry_store.h"

namespace qx {

namespace {

constexpr std::string_view kRegistrationCaption = "Tarnwick Web";

void ReportFailure(WindowHandle owner, std::string_view text, std::string_view name) {
  MessageBoxRequest box;
  box.owner = owner;
  box.text = std::string(text) + std::string(name);
  box.caption = kRegistrationCaption;
  box.icon = BoxIcon::kInformation;
  box.buttons = BoxButtons::kOk;
  BeepAndShow(BeepKind::kSimple, box);
}

}  // namespace

std::string ApplicationKeyPath(std::string_view name) {
  return "Software\\TARNWICK\\Tarnwick WEB\\" + std::string(name);
}

int RegisterApplication(WindowHandle owner, std::string_view name, std::string_view install_to,
                        std::string_view version, std::string_view description) {
  try {
    RegistryStore store;
    const std::string key = ApplicationKeyPath(name);
    const bool have_key = store.CreateKey(key, kApplicationKeyClass, nullptr);
    if (have_key && store.SetValue(key, kInstallToValue, install_to) &&
        store.SetValue(key, kVersionValue, version) &&
        store.SetValue(key, kDescriptionValue, description)) {
      return 1;
    }
    ReportFailure(owner, "Unable to register application ", name);
    // A key holding only some of the values would look like a registration.
    if (have_key) {
      store.DeleteKey(key);
    }
    return 0;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

int UnregisterApplication(WindowHandle owner, std::string_view name) {
  try {
    RegistryStore store;
    if (store.DeleteKey(ApplicationKeyPath(name))) {
      return 1;
    }
    ReportFailure(owner, "Unable to UNregister application ", name);
    return 0;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

}  // namespace qx
