// Registers the .xls engine with the connection layer. This file is compiled into every
// program that links the core (see engine.h), so the registration is never dropped.
#include "targets/engine.h"
#include "targets/xls/xls_engine.h"

namespace {

const qm::TEngineRegistration kXlsRegistration(qm::TEngineFactory{"xls", qm::xls::AcceptsXls,
                                                                  qm::xls::OpenXlsEngine});

}  // namespace
