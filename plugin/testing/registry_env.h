// registry_env.h -- the operating system's environment with a registry of
// the test's choosing.
#ifndef PELLUMIN_PLUGIN_TESTING_REGISTRY_ENV_H_
#define PELLUMIN_PLUGIN_TESTING_REGISTRY_ENV_H_

#include "env.h"

namespace tarnwick {
namespace testkit {

// Every call goes to platform::Env::Default() but registry(), which is the
// one given; a test may change it between calls (a settings file moved
// away, emptied, or one that does not parse).
class RegistryEnv final : public platform::EnvWrapper {
 public:
  // The registry is not owned; null gives the default one's.
  explicit RegistryEnv(platform::Registry* registry = nullptr)
      : EnvWrapper(platform::Env::Default()), registry_(registry) {}
  void set_registry(platform::Registry* registry) { registry_ = registry; }
  platform::Registry* registry() override {
    return registry_ != nullptr ? registry_ : target()->registry();
  }

 private:
  platform::Registry* registry_;
};

}  // namespace testkit
}  // namespace tarnwick

#endif  // PELLUMIN_PLUGIN_TESTING_REGISTRY_ENV_H_
