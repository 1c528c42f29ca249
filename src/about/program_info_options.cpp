#include "about/program_info_options.h"

#include <cstdio>

#include "about/app_version_info.h"
#include "text/unicode.h"

namespace qm {

std::string ProgramVersionText(std::string_view program) {
    const TAppVersionInfo info;
    std::string text(program);
    text += " (" + Utf16ToUtf8(info.GetValue(TVersionInfoKey::ProductName)) + ") ";
    text += Utf16ToUtf8(info.GetValue(TVersionInfoKey::FileVersion)) + "\n";
    text += "Copyright: " + Utf16ToUtf8(info.GetValue(TVersionInfoKey::LegalCopyright)) + "\n";
    return text;
}

int RunProgramInfoOption(int argc, const char* const* argv, std::string_view program) {
    if (argc != 2) return -1;
    const std::string_view option = argv[1];
    std::string text;
    if (option == "--version") {
        text = ProgramVersionText(program);
    } else if (option == "--help" || option == "-h") {
        const char* help = ProgramHelpText(program);
        if (help == nullptr) return -1;
        text = help;
    } else {
        return -1;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    return std::fflush(stdout) == 0 && written ? 0 : 1;
}

}  // namespace qm
