#pragma once

#include <QString>
#include <string>

namespace velquist::ui {

// Everything below the window keeps UTF-8 in std::string; widgets take QString.
inline QString Q(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}
inline QString Q(const char* utf8) { return QString::fromUtf8(utf8); }
inline std::string U8(const QString& text) { return text.toUtf8().toStdString(); }

}  // namespace velquist::ui
