// The per-user settings: window placement, start-up switches, recent project files and the
// preview panes, kept in the settings file (an INI document) below the user's configuration
// folder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"

namespace qm {

// Left, top, right, bottom. The main window keeps its width in Right and its height in Bottom.
struct TRect {
    std::int32_t Left = 0;
    std::int32_t Top = 0;
    std::int32_t Right = 0;
    std::int32_t Bottom = 0;
    friend bool operator==(const TRect&, const TRect&) = default;
};

// The settings folder could not be created, so nothing was saved. The caller shows the
// message in a warning box and goes on; Folder() tells which folder it was.
class TSettingsFolderError : public Error {
  public:
    explicit TSettingsFolderError(std::u16string folder);
    const std::u16string& Folder() const noexcept { return folder_; }

  private:
    std::u16string folder_;
};

// Whether two entries of the recent-files list name the same file. File names are
// case-sensitive here, so a.QLM and A.QLM are two files; the same path spelt differently
// ("/p/./a.QLM", "/p//a.QLM") is one, and so are two names of one existing file (a symbolic
// link, or a folder that ignores letter case).
bool SameProjectFile(std::u16string_view a, std::u16string_view b);

class TConfig {
  public:
    TConfig() = default;

    // The settings file: "Morvessa/Quillomat/Quillomat.ini" below the user's configuration
    // folder (which begins the path with "/" when no folder can be found).
    static std::u16string SettingsFilePath();

    // Replaces every field with the file's value or the default of a missing key; a missing
    // file is not an error. Throws Error for a file that exists but cannot be read.
    void Load(const std::u16string& path);
    // Creates the file's folder when needed (TSettingsFolderError when that fails, nothing
    // written), then writes the fields, keeping the sections and keys of an existing file that
    // the program does not know. Other write failures throw Error naming the file.
    void Save(const std::u16string& path) const;

    // Stores 0, 1 or 2 unchanged and any other value as 0.
    void SetWindowState(std::int32_t state) noexcept;
    // Moves the path to the top of History, dropping the entries that name the same file
    // (SameProjectFile).
    void AddHistory(const std::u16string& path);

    bool WindowPositionRestore = false;
    TRect WindowPosition{0, 0, 744, 580};
    std::int32_t WindowState = 0;         // 0 normal, 1 minimised, 2 maximised
    std::vector<std::u16string> History;  // most recent first
    bool ProjectFileRestore = false;
    std::u16string LastProjectFile;
    bool InTaskTray = false;
    bool PreviewExcel = true;
    bool PreviewCsv = true;
};

}  // namespace qm
