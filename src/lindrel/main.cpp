// lindrel: Quillomat's association tool. Started by the program with the path of a request
// file (an INI document, see settings/file_association.h), it registers or removes the
// project file type and the desktop entry that opens it, then ends. Exit status: 0 done,
// 1 the request could not be read or carried out (the reason on standard error), 2 wrong
// arguments.
#include <sys/stat.h>

#include <cstdio>
#include <exception>

#include "about/program_info_options.h"
#include "lindrel/lindrel_request.h"
#include "lindrel/lindrel_task.h"
#include "platform/error.h"
#include "platform/native_path.h"
#include "project/ini_document.h"

int main(int argc, char** argv) {
    if (int status = qm::RunProgramInfoOption(argc, argv, "lindrel"); status >= 0) return status;
    if (argc != 2) {
        std::fputs("使い方: lindrel <依頼ファイル>\n", stderr);
        return 2;
    }
    try {
        const std::u16string path = qm::FromNativePath(argv[1]);
        struct stat info {};
        // A missing file would read as an empty request; say what is really wrong.
        if (::stat(argv[1], &info) != 0 || !S_ISREG(info.st_mode))
            throw qm::Error(u"依頼ファイルが見つかりません。\n" + path);
        try {
            const qm::TLindrelRequest request =
                qm::ReadLindrelRequest(qm::TIniDocument::FromFile(path));
            qm::CarryOutLindrelRequest(request, qm::UserLindrelFolders());
        } catch (const qm::Error& error) {
            throw qm::Error(u"依頼を実行できません: " + error.Message() + u"\n依頼ファイル: " +
                            path);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "lindrel: %s\n", error.what());
        return 1;
    }
    return 0;
}
