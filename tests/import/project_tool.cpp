// Test helper for the end-to-end check of quillomat-cli import.
//
//   qm_import_project make QLM PRINT_SCRIPT IMPORT_SCRIPT CLI EXCEL SHEET CSV FLAG RELATION
//     saves the project (FLAG "1" or "0", RELATION in its text form) to QLM and prints the
//     project's GetArguments(true) on stdout; writes two auto-run scripts with those
//     arguments: PRINT_SCRIPT starts this helper's "print" with them, IMPORT_SCRIPT starts
//     "CLI import" with them.
//   qm_import_project print ARGS...
//     prints every argument as its byte length, a colon and its bytes.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/native_path.h"
#include "platform/program_path.h"
#include "project/project.h"
#include "text/unicode.h"

namespace {

void Print(const std::string& bytes) {
    std::printf("%zu:", bytes.size());
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "print") == 0) {
        for (int i = 2; i < argc; ++i)
            Print(argv[i]);
        return 0;
    }
    if (argc != 11 || std::strcmp(argv[1], "make") != 0) {
        std::fputs("usage: qm_import_project make|print ...\n", stderr);
        return 2;
    }
    try {
        auto u = [](const char* text) { return qm::FromNativePath(text); };
        qm::TProject project(u(argv[6]), u(argv[7]), u(argv[8]), std::strcmp(argv[9], "1") == 0);
        project.Relation = qm::TextToRelation(qm::Utf8ToUtf16(argv[10]));
        project.SaveToFile(u(argv[2]));
        std::vector<std::u16string> arguments = project.GetArguments(true);
        for (const std::u16string& argument : arguments)
            Print(qm::ToNativePath(argument));

        std::vector<std::u16string> printing = {qm::ProgramFilePath(), u"print"};
        printing.insert(printing.end(), arguments.begin(), arguments.end());
        project.SaveBatchFile(u(argv[3]), printing);
        std::vector<std::u16string> importing = {u(argv[5]), u"import"};
        importing.insert(importing.end(), arguments.begin(), arguments.end());
        project.SaveBatchFile(u(argv[4]), importing);
    } catch (const qm::Error& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
