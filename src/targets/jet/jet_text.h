// Text as Jet 4 / ACE store it: UTF-16LE, or the "Unicode compression" form that starts with
// FF FE and then switches between one-byte (high byte zero) and two-byte characters at every
// 0x00 byte.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace qm::jet {

std::u16string DecodeJetText(std::span<const std::uint8_t> bytes);

}  // namespace qm::jet
