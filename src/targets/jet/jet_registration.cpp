// Registers the Access engine with the connection/table layer. This file reaches every program
// as an INTERFACE source of quillomat_core (see engine.h), so the registration is not dropped.
#include "targets/engine.h"
#include "targets/jet/jet_engine.h"

namespace {

const qm::TEngineRegistration registration({"jet", qm::jet::AcceptsConnection,
                                            qm::jet::OpenJetEngine});

}  // namespace
