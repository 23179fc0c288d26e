// handles.h -- the magic checks every exported operation makes on the handles
// it receives, before it reads or writes anything.
#ifndef PELLUMIN_ENGINE_HANDLES_H_
#define PELLUMIN_ENGINE_HANDLES_H_

#include "corvane.h"

namespace corvane {

// The four bytes at the start of a live record.
constexpr char kServiceMagic[4] = QX_SERVICE_MAGIC;
constexpr char kTypesMagic[4] = QX_TYPES_MAGIC;

// QX_ERR_NULL_HANDLE for null, QX_ERR_BAD_HANDLE when the first four bytes
// are not "QXCT", else QX_OK. Reads exactly four bytes.
int ValidateService(const QxService* service);

// The same with the magic "QXTP".
int ValidateTypes(const QxTypes* set);

}  // namespace corvane

#endif  // PELLUMIN_ENGINE_HANDLES_H_
