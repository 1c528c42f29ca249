#include "lindrel/lindrel_task.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/error.h"
#include "platform/file_stream.h"
#include "platform/file_system.h"
#include "platform/native_path.h"
#include "platform/run_program.h"
#include "settings/special_folder.h"
#include "text/unicode.h"

namespace qm {

namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kMaxMimeappsSize = 16 * 1024 * 1024;

std::u16string Join(const std::u16string& folder, std::string_view name) {
    std::u16string path = folder;
    if (path.empty() || path.back() != u'/') path += u'/';
    return path + Utf8ToUtf16(name);
}

void MakeFolder(const std::u16string& folder) {
    std::error_code error;
    fs::create_directories(ToNativePath(folder), error);
    if (!fs::is_directory(ToNativePath(folder), error))
        throw Error(u"フォルダーを作成できません。\n" + folder);
}

void DeleteFile(const std::u16string& path) {
    if (::unlink(ToNativePath(path).c_str()) != 0 && errno != ENOENT)
        throw Error(u"ファイルを削除できません（" + Utf8ToUtf16(std::strerror(errno)) + u"）。\n" +
                    path);
}

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

bool IsFolder(const std::u16string& path) {
    std::error_code error;
    return fs::is_directory(ToNativePath(path), error);
}

void RemoveFromDefaults(const std::u16string& mimeapps, std::string_view mimeType,
                        std::string_view desktopFile) {
    std::error_code error;
    if (!fs::is_regular_file(ToNativePath(mimeapps), error)) return;
    TFileStream stream(mimeapps);
    const std::int64_t size = stream.GetSize();
    if (size > kMaxMimeappsSize) return;  // not a list this tool could have written to
    std::string bytes(static_cast<std::size_t>(size), '\0');
    stream.ReadBuffer(bytes.data(), bytes.size());
    std::string cleaned = RemoveDefaultApplication(bytes, mimeType, desktopFile);
    if (cleaned != bytes) WriteWholeFile(mimeapps, cleaned);
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
    const std::u16string mime = Join(folders.Data, "mime");
    const std::u16string packages = Join(mime, "packages");
    const std::u16string applications = Join(folders.Data, "applications");
    const std::u16string package = Join(packages, MimePackageFileName(request.Extension));
    const std::u16string desktop = Join(applications, DesktopFileName(request.Extension));
    const std::string mimeType = MimeTypeName(request.Extension);
    const std::string desktopName = DesktopFileName(request.Extension);

    if (request.Task == TLindrelRequest::TTask::Register) {
        // A program that cannot be run would make an association that opens nothing; this also
        // catches a program path with a double quote, which the quoted command cannot carry.
        const std::u16string program = SplitCommandLine(request.Command).front();
        if (::access(ToNativePath(program).c_str(), X_OK) != 0)
            throw Error(u"[EXT] COMMAND のプログラムを実行できません。\n" + program);
        MakeFolder(packages);
        MakeFolder(applications);
        WriteWholeFile(package, MimePackageXml(request));
        WriteWholeFile(desktop, DesktopEntry(request));
        RunHelper("update-mime-database", {mime});
        RunHelper("update-desktop-database", {applications});
        RunHelper("xdg-mime", {u"default", Utf8ToUtf16(desktopName), Utf8ToUtf16(mimeType)});
        return;
    }

    DeleteFile(package);
    DeleteFile(desktop);
    if (!folders.Config.empty())
        RemoveFromDefaults(Join(folders.Config, "mimeapps.list"), mimeType, desktopName);
    // The place older desktops kept their defaults in.
    RemoveFromDefaults(Join(applications, "mimeapps.list"), mimeType, desktopName);
    if (IsFolder(packages)) RunHelper("update-mime-database", {mime});
    if (IsFolder(applications)) RunHelper("update-desktop-database", {applications});
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
