// The options of the commands that take a package into the cache about its
// signer: --key, --accept-new-key and --require-signature. Command-line
// program.
#include <string>

#include "tools/qxweb/commands.h"

namespace qxweb_tool {

void AddSignerOptions(CLI::App* command, SignerOptions& options) {
  command
      ->add_option("--key", options.key,
                   "The first install must be signed with this key (a .pub file or the key's "
                   "line); later ones must carry the key it pinned")
      ->type_name("KEY");
  command
      ->add_option("--accept-new-key", options.new_key,
                   "Let the pinned key of the application move to this one")
      ->type_name("KEY");
  command->add_flag("--require-signature", options.require_signature,
                    "Refuse a package without a signature (as RequireSignature=Yes in the "
                    "General section of qxweb.ini does)");
}

bool SignerPolicyOf(const SignerOptions& options, qx::SignerPolicy* policy, std::string* error) {
  policy->require_signature = options.require_signature;
  if (!options.key.empty()) {
    policy->required_key = qx::RequiredKeyOf(options.key, error);
    if (policy->required_key.empty()) {
      return false;
    }
  }
  if (!options.new_key.empty()) {
    policy->new_key = qx::RequiredKeyOf(options.new_key, error);
    if (policy->new_key.empty()) {
      return false;
    }
  }
  return true;
}

}  // namespace qxweb_tool
