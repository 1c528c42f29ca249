// File names: the program's texts are UTF-16, this platform's paths are bytes (UTF-8).
#pragma once

#include <string>
#include <string_view>

namespace qm {

std::string ToNativePath(std::u16string_view path);
std::u16string FromNativePath(std::string_view path);

}  // namespace qm
