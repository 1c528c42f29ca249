// The program's images: one small set drawn for Quillomat (SVG, compiled in as Qt resources),
// indexed as the image list of the main window's actions.
#pragma once

#include <QIcon>

namespace qm {

inline constexpr int kIconBrowse = 0;
inline constexpr int kIconFileNew = 1;
inline constexpr int kIconFileOpen = 2;
inline constexpr int kIconFileSave = 3;
inline constexpr int kIconConvertStart = 4;
inline constexpr int kIconConvertCancel = 5;
inline constexpr int kIconViewExcel = 6;
inline constexpr int kIconViewCsv = 7;
// The program's own icon (window, tray, desktop entry).
inline constexpr int kIconApplication = 8;

QIcon AppIcon(int index);

}  // namespace qm
