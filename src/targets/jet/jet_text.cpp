#include "targets/jet/jet_text.h"

namespace qm::jet {

std::u16string DecodeJetText(std::span<const std::uint8_t> bytes) {
    std::u16string text;
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        text.reserve(bytes.size() - 2);
        bool compressed = true;
        std::size_t i = 2;
        while (i < bytes.size()) {
            if (bytes[i] == 0x00) {
                compressed = !compressed;
                ++i;
            } else if (compressed) {
                text.push_back(bytes[i++]);
            } else {
                if (i + 1 >= bytes.size()) break;  // a dangling half character is dropped
                text.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
                i += 2;
            }
        }
        return text;
    }
    text.resize(bytes.size() / 2);
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return text;
}

}  // namespace qm::jet
