// The LvProp property blob parser over arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "targets/jet/jet_properties.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qm::jet::ParseProperties(std::span(data, size));
    return 0;
}
