#include "settings/config.h"

#include <filesystem>
#include <system_error>

#include "platform/comma_text.h"
#include "platform/native_path.h"
#include "project/ini_document.h"
#include "settings/special_folder.h"

namespace qm {

namespace {

constexpr char16_t kStartup[] = u"STARTUP";

}  // namespace

bool SameProjectFile(std::u16string_view a, std::u16string_view b) {
    if (a == b) return true;
    const std::filesystem::path first(ToNativePath(a));
    const std::filesystem::path second(ToNativePath(b));
    std::error_code error;
    if (std::filesystem::equivalent(first, second, error)) return true;
    // When either file is missing, the names alone decide.
    return first.lexically_normal() == second.lexically_normal();
}

TSettingsFolderError::TSettingsFolderError(std::u16string folder)
    : Error(u"設定ファイルを保存するためのフォルダの作成に失敗しました。"),
      folder_(std::move(folder)) {}

std::u16string TConfig::SettingsFilePath() {
    std::u16string path = UserConfigFolder();
    if (path.empty() || path.back() != u'/') path += u'/';
    path += u"Morvessa/Quillomat/Quillomat.ini";
    return path;
}

void TConfig::Load(const std::u16string& path) {
    TIniDocument ini = TIniDocument::FromFile(path);
    WindowPositionRestore = ini.ReadBool(kStartup, u"WindowPositionRestore", false);
    WindowPosition.Left = ini.ReadInteger(kStartup, u"WindowPositionLeft", 0);
    WindowPosition.Right = ini.ReadInteger(kStartup, u"WindowPositionRight", 434);
    WindowPosition.Top = ini.ReadInteger(kStartup, u"WindowPositionTop", 0);
    WindowPosition.Bottom = ini.ReadInteger(kStartup, u"WindowPositionBottom", 420);
    SetWindowState(ini.ReadInteger(kStartup, u"WindowState", 0));
    History = FromCommaText(ini.ReadString(kStartup, u"HISTORY", u""));
    ProjectFileRestore = ini.ReadBool(kStartup, u"ProjectFileRestore", false);
    LastProjectFile = ini.ReadString(kStartup, u"LastProjectFile", u"");
    InTaskTray = ini.ReadBool(kStartup, u"InTaskTray", false);
    PreviewExcel = ini.ReadBool(kStartup, u"PreviewExcel", true);
    PreviewCsv = ini.ReadBool(kStartup, u"PreviewCsv", true);
}

void TConfig::Save(const std::u16string& path) const {
    std::size_t slash = path.rfind(u'/');
    std::u16string folder =
        slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
    if (!folder.empty()) {
        std::filesystem::path native = ToNativePath(folder);
        std::error_code error;
        std::filesystem::create_directories(native, error);
        if (!std::filesystem::is_directory(native, error)) throw TSettingsFolderError(folder);
    }

    TIniDocument ini = TIniDocument::FromFile(path);
    ini.WriteInteger(u"SYSTEM", u"Version", 0);
    ini.WriteBool(kStartup, u"WindowPositionRestore", WindowPositionRestore);
    ini.WriteInteger(kStartup, u"WindowPositionLeft", WindowPosition.Left);
    ini.WriteInteger(kStartup, u"WindowPositionRight", WindowPosition.Right);
    ini.WriteInteger(kStartup, u"WindowPositionTop", WindowPosition.Top);
    ini.WriteInteger(kStartup, u"WindowPositionBottom", WindowPosition.Bottom);
    ini.WriteInteger(kStartup, u"WindowState", WindowState);
    ini.WriteString(kStartup, u"HISTORY", ToCommaText(History));
    ini.WriteBool(kStartup, u"ProjectFileRestore", ProjectFileRestore);
    ini.WriteString(kStartup, u"LastProjectFile", LastProjectFile);
    ini.WriteBool(kStartup, u"InTaskTray", InTaskTray);
    ini.WriteBool(kStartup, u"PreviewExcel", PreviewExcel);
    ini.WriteBool(kStartup, u"PreviewCsv", PreviewCsv);
    ini.SaveToFile(path);
}

void TConfig::SetWindowState(std::int32_t state) noexcept {
    WindowState = (state >= 0 && state <= 2) ? state : 0;
}

void TConfig::AddHistory(const std::u16string& path) {
    std::erase_if(History,
                  [&](const std::u16string& entry) { return SameProjectFile(entry, path); });
    History.insert(History.begin(), path);
}

}  // namespace qm
