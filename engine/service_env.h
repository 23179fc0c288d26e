// service_env.h -- making a service on a given environment, for the tools
// and tests inside the project (not exported from the shared library).
#ifndef PELLUMIN_ENGINE_SERVICE_ENV_H_
#define PELLUMIN_ENGINE_SERVICE_ENV_H_

#include "corvane.h"
#include "env.h"

namespace corvane {

// A service exactly as QX_Init makes it, whose business-hours clock and
// host resolver are env's (Env::Default() when env is null). env must
// outlive the service. Released with QX_FreeService; null when memory runs
// out.
QxService* NewServiceWithEnv(platform::Env* env);

}  // namespace corvane

#endif  // PELLUMIN_ENGINE_SERVICE_ENV_H_
