#include "settings/file_association.h"

#include "platform/program_path.h"
#include "platform/run_program.h"
#include "settings/temp_file.h"

namespace qm {

namespace {

void SaveAndRun(const TIniDocument& request) {
    TTempFile file;
    request.SaveToFile(file.FileName());
    RunLindrel(file.FileName());
}

}  // namespace

std::u16string AssociationCommand(const std::u16string& programFile) {
    return u'"' + programFile + u"\" \"%1\"";
}

TIniDocument MakeSetAssociationRequest(const std::u16string& extension,
                                       const std::u16string& programFile,
                                       const std::u16string& fileType,
                                       const std::u16string& iconFile, std::int32_t iconIndex) {
    TIniDocument request;
    request.WriteString(u"EXT", u"EXT", extension);
    request.WriteInteger(u"TASK", u"CLOSE", 1);
    request.WriteString(u"EXT", u"COMMAND", AssociationCommand(programFile));
    request.WriteString(u"EXT", u"FILE_TYPE", fileType);
    request.WriteString(u"EXT", u"ICON_FILE", iconFile);
    request.WriteInteger(u"EXT", u"ICON_INDEX", iconIndex);
    request.WriteInteger(u"TASK", u"COMMAND", 1);
    return request;
}

TIniDocument MakeRemoveAssociationRequest(const std::u16string& extension) {
    TIniDocument request;
    request.WriteString(u"EXT", u"EXT", extension);
    request.WriteInteger(u"TASK", u"CLOSE", 1);
    request.WriteInteger(u"TASK", u"COMMAND", 2);
    return request;
}

void SetFileAssociation(const std::u16string& extension, const std::u16string& fileType,
                        const std::u16string& iconFile, std::int32_t iconIndex) {
    SaveAndRun(
        MakeSetAssociationRequest(extension, ProgramFilePath(), fileType, iconFile, iconIndex));
}

void RemoveFileAssociation(const std::u16string& extension) {
    SaveAndRun(MakeRemoveAssociationRequest(extension));
}

std::u16string LindrelPath() {
    const std::u16string program = ProgramFilePath();
    const std::size_t slash = program.rfind(u'/');
    if (slash == std::u16string::npos) return {};
    return program.substr(0, slash + 1) + u"lindrel";
}

void RunLindrel(const std::u16string& requestFile) {
    const std::u16string tool = LindrelPath();
    // The tool's result is not examined: a failed or missing tool leaves the association as it
    // was, and the dialog stays open either way.
    if (!tool.empty()) RunProgramAndWait(tool, {requestFile});
}

}  // namespace qm
