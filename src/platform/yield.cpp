#include "platform/yield.h"

namespace qm {

namespace detail {
TYieldHook gYieldHook = nullptr;
std::atomic<bool> gYieldDue{true};
}  // namespace detail

TYieldHook SetYieldHook(TYieldHook hook) noexcept {
    TYieldHook previous = detail::gYieldHook;
    detail::gYieldHook = hook;
    RaiseYieldsDue();
    return previous;
}

}  // namespace qm
