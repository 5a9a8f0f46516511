#pragma once

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QString>

namespace velquist::ui {

// Skin images live in the "skin" and "360_skin" folders of the program folder (the current
// directory at start). Set once during start-up, before any window is made.
void SetProgramFolder(const QString& folder);
QString ProgramFolder();
QString SkinPath(const QString& fileName);     // <program folder>/skin/<fileName>
QString Skin360Path(const QString& fileName);  // <program folder>/360_skin/<fileName>

// A skin image, or a null pixmap when the file is missing: its area is then left undrawn.
QPixmap LoadSkin(const QString& fileName);

// The fonts of the skinned windows: 宋体 where it is installed, else a CJK font that is.
QFont SkinFont(int pixelHeight, bool bold = false);

// Colours shared by every skinned window.
inline const QColor kDialogBackground{240, 245, 249};
inline const QColor kDialogBorder{79, 84, 135};
inline const QColor kPageBackground{255, 255, 255};
inline const QColor kStatusText{12, 91, 132};
inline const QColor kTooltipBackground{229, 230, 240};

// The program name as the window and the about box show it.
inline constexpr const char* kProgramTitle = "Zanquil关键词排名查询软件（360版-永久免费）";
// The vendor's web site, opened by the menu and the banner.
inline constexpr const char* kVendorWebsite = "http://www.velquist.com/";
// The ownership notice at the right end of the status bar.
inline constexpr const char* kOwnershipNotice = "Zanquil 版权所有";

}  // namespace velquist::ui
