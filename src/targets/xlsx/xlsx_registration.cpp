// Registers the .xlsx engine with the connection layer. This file is compiled into every
// program that links the core (see engine.h), so the registration is never dropped.
#include "targets/engine.h"
#include "targets/xlsx/xlsx_engine.h"

namespace {

const qm::TEngineRegistration kXlsxRegistration(qm::TEngineFactory{"xlsx", qm::xlsx::AcceptsXlsx,
                                                                   qm::xlsx::OpenXlsxEngine});

}  // namespace
