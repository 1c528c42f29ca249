// The project as a command line: the options -e=, -w=, -c=, -f=, -r= and -a.
#include "platform/auto_run_script.h"
#include "platform/program_path.h"
#include "project/command_line.h"
#include "project/project.h"

namespace qm {

namespace {

// The option's name is the argument's first three characters in lower case; options are ASCII.
std::u16string OptionName(std::u16string_view argument) {
    std::u16string name(argument.substr(0, 3));
    for (char16_t& c : name) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    }
    return name;
}

}  // namespace

std::vector<std::u16string> TProject::GetArguments(bool autoRun) const {
    std::vector<std::u16string> arguments = {
        ProgramFilePath(),
        u"-e=" + ExcelFile,
        u"-w=" + ExcelSheet,
        u"-c=" + CsvFile,
        u"-f=" + BoolToArgument(FirstLineIsTitle),
        u"-r=" + RelationToText(Relation),
    };
    if (autoRun) arguments.emplace_back(u"-a");
    return arguments;
}

bool TProject::SetArguments(const std::vector<std::u16string>& arguments) {
    bool autoRun = false;
    for (const std::u16string& argument : arguments) {
        const std::u16string name = OptionName(argument);
        const std::u16string_view value =
            argument.size() > 3 ? std::u16string_view(argument).substr(3) : std::u16string_view();
        if (name == u"-e=") {
            ExcelFile = value;
        } else if (name == u"-w=") {
            ExcelSheet = value;
        } else if (name == u"-c=") {
            CsvFile = value;
        } else if (name == u"-f=") {
            FirstLineIsTitle = ArgumentToBool(value);
        } else if (name == u"-r=") {
            Relation = TextToRelation(value);
        } else if (name == u"-a") {
            autoRun = true;
        }
    }
    return autoRun;
}

void TProject::SaveBatchFile(const std::u16string& path,
                             const std::vector<std::u16string>& arguments) const {
    std::vector<std::u16string> quoted;
    quoted.reserve(arguments.size());
    for (const std::u16string& argument : arguments) {
        quoted.push_back(QuoteAutoRunArgument(argument, kNativeAutoRunForm));
    }
    WriteAutoRunFile(path, JoinStrings(quoted, u" "));
}

}  // namespace qm
