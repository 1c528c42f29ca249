#include "lindrel/lindrel_task.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "lindrel/lindrel_files.h"
#include "platform/error.h"
#include "platform/native_path.h"
#include "platform/run_program.h"
#include "settings/special_folder.h"
#include "text/unicode.h"

namespace qm {

namespace {

constexpr std::size_t kMaxMimeappsSize = 16 * 1024 * 1024;

// The program's path found through $PATH, or empty.
std::u16string FindOnPath(std::string_view name) {
    const char* path = std::getenv("PATH");
    std::string_view folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    while (!folders.empty()) {
        const std::size_t colon = folders.find(':');
        std::string folder(folders.substr(0, colon));
        folders.remove_prefix(colon == std::string_view::npos ? folders.size() : colon + 1);
        if (folder.empty()) continue;  // the current folder is never searched
        const std::string candidate = folder + '/' + std::string(name);
        if (::access(candidate.c_str(), X_OK) == 0) return FromNativePath(candidate);
    }
    return {};
}

void RunHelper(std::string_view name, const std::vector<std::u16string>& arguments) {
    const std::u16string program = FindOnPath(name);
    if (!program.empty()) RunProgramAndWait(program, arguments);
}

// Takes the entry out of a mimeapps.list in 'folder'. A list that is a link, not a regular file
// or larger than any list this tool could have written to is left alone.
void RemoveFromDefaults(const TLindrelFolder& folder, std::string_view mimeType,
                        std::string_view desktopFile) {
    const auto content = folder.Read("mimeapps.list", kMaxMimeappsSize);
    if (!content) return;
    const std::string cleaned = RemoveDefaultApplication(content->Bytes, mimeType, desktopFile);
    if (cleaned != content->Bytes) folder.Replace("mimeapps.list", cleaned, content->Mode);
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

}  // namespace

TLindrelFolders UserLindrelFolders() {
    TLindrelFolders folders{UserDataFolder(), UserConfigFolder()};
    if (folders.Data.empty())
        throw Error(
            u"ユーザーのデータフォルダーがわかりません（HOME も XDG_DATA_HOME もありません）。");
    return folders;
}

void CarryOutLindrelRequest(const TLindrelRequest& request, const TLindrelFolders& folders) {
    const std::string packageName = MimePackageFileName(request.Extension);
    const std::string mimeType = MimeTypeName(request.Extension);
    const std::string desktopName = DesktopFileName(request.Extension);

    if (request.Task == TLindrelRequest::TTask::Register) {
        // A program that cannot be run would make an association that opens nothing; this also
        // catches a program path with a double quote, which the quoted command cannot carry.
        const std::u16string program = SplitCommandLine(request.Command).front();
        if (::access(ToNativePath(program).c_str(), X_OK) != 0)
            throw Error(u"[EXT] COMMAND のプログラムを実行できません。\n" + program);
        const TLindrelFolder data = TLindrelFolder::Base(folders.Data);
        const TLindrelFolder mime = data.Make("mime");
        const TLindrelFolder packages = mime.Make("packages");
        const TLindrelFolder applications = data.Make("applications");
        packages.Replace(packageName, MimePackageXml(request));
        applications.Replace(desktopName, DesktopEntry(request));
        RunHelper("update-mime-database", {mime.Path()});
        RunHelper("update-desktop-database", {applications.Path()});
        RunHelper("xdg-mime", {u"default", Utf8ToUtf16(desktopName), Utf8ToUtf16(mimeType)});
        return;
    }

    // Nothing is deleted below a link: this tool never put anything there.
    const TLindrelFolder data = TLindrelFolder::ExistingBase(folders.Data);
    const TLindrelFolder mime = data.Existing("mime");
    const TLindrelFolder packages = mime.Existing("packages");
    const TLindrelFolder applications = data.Existing("applications");
    packages.Delete(packageName);
    applications.Delete(desktopName);
    if (!folders.Config.empty())
        RemoveFromDefaults(TLindrelFolder::ExistingBase(folders.Config), mimeType, desktopName);
    // The place older desktops kept their defaults in.
    RemoveFromDefaults(applications, mimeType, desktopName);
    if (packages.Valid()) RunHelper("update-mime-database", {mime.Path()});
    if (applications.Valid()) RunHelper("update-desktop-database", {applications.Path()});
}

std::string RemoveDefaultApplication(std::string_view mimeapps, std::string_view mimeType,
                                     std::string_view desktopFile) {
    std::string result;
    while (!mimeapps.empty()) {
        const std::size_t newline = mimeapps.find('\n');
        const std::size_t length =
            newline == std::string_view::npos ? mimeapps.size() : newline + 1;
        const std::string_view line = mimeapps.substr(0, length);
        mimeapps.remove_prefix(length);

        std::string_view body = line;
        const std::string_view ending = body.ends_with("\r\n") ? "\r\n"
                                        : body.ends_with('\n') ? "\n"
                                                               : "";
        body.remove_suffix(ending.size());
        const std::size_t equals = body.find('=');
        if (equals == std::string_view::npos || TrimBlanks(body.substr(0, equals)) != mimeType) {
            result += line;
            continue;
        }
        std::string_view list = body.substr(equals + 1);
        std::string kept;
        bool removed = false;
        while (!list.empty()) {
            const std::size_t semicolon = list.find(';');
            const std::string_view item = TrimBlanks(list.substr(0, semicolon));
            list.remove_prefix(semicolon == std::string_view::npos ? list.size() : semicolon + 1);
            if (item == desktopFile) {
                removed = true;
            } else if (!item.empty()) {
                kept += std::string(item) + ';';
            }
        }
        if (!removed) {
            result += line;
        } else if (!kept.empty()) {
            result += std::string(body.substr(0, equals + 1)) + kept + std::string(ending);
        }
    }
    return result;
}

}  // namespace qm
