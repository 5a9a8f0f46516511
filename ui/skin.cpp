#include "ui/skin.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <mutex>

namespace velquist::ui {

namespace {

std::mutex g_folderMutex;
QString g_programFolder;  // guarded by g_folderMutex

}  // namespace

void SetProgramFolder(const QString& folder) {
    std::lock_guard lock(g_folderMutex);
    g_programFolder = folder;
}

QString ProgramFolder() {
    std::lock_guard lock(g_folderMutex);
    return g_programFolder.isEmpty() ? QDir::currentPath() : g_programFolder;
}

QString SkinPath(const QString& fileName) { return ProgramFolder() + "/skin/" + fileName; }

QString Skin360Path(const QString& fileName) { return ProgramFolder() + "/360_skin/" + fileName; }

QPixmap LoadSkin(const QString& fileName) {
    const QString path = SkinPath(fileName);
    if (!QFileInfo::exists(path)) return {};
    return QPixmap(path);
}

QFont SkinFont(int pixelHeight, bool bold) {
    QFont font;
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"),
                      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("Droid Sans Fallback")});
    font.setPixelSize(pixelHeight);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    return font;
}

}  // namespace velquist::ui
