#include "platform/yield.h"

namespace qm {

namespace detail {
TYieldHook gYieldHook = nullptr;
}

TYieldHook SetYieldHook(TYieldHook hook) noexcept {
    TYieldHook previous = detail::gYieldHook;
    detail::gYieldHook = hook;
    return previous;
}

}  // namespace qm
