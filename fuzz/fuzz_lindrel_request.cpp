// The association tool's reading of a request and the desktop files it makes from it, on
// arbitrary bytes: never crash, and never write a control character (other than the line
// ends) into a desktop entry or an XML file, where it would break the file or add a key.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "lindrel/lindrel_request.h"
#include "lindrel/lindrel_task.h"
#include "platform/error.h"
#include "text/unicode.h"

namespace {

void CheckText(std::string_view text) {
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\n') || byte == 0x7F) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        const qm::TLindrelRequest request =
            qm::ReadLindrelRequest(qm::TIniDocument::FromBytes(bytes));
        CheckText(qm::MimePackageXml(request));
        CheckText(qm::DesktopEntry(request));
        CheckText(qm::DesktopFileName(request.Extension));
    } catch (const qm::Error&) {
    }

    // The command splitter and Exec quoting on the bytes as a command line.
    const std::u16string command = qm::Utf8ToUtf16(bytes);
    std::string exec = qm::DesktopExec(qm::SplitCommandLine(command));
    (void)exec;

    // Removing a default twice gives what removing it once gave.
    const std::string once =
        qm::RemoveDefaultApplication(bytes, "application/x-quillomat-project", "q.desktop");
    if (once.size() > bytes.size()) std::abort();
    if (qm::RemoveDefaultApplication(once, "application/x-quillomat-project", "q.desktop") != once)
        std::abort();
    return 0;
}
