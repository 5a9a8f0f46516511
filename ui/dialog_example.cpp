#include "ui/dialog_example.h"

#include <QPainter>

#include "ui/skin.h"

namespace velquist::ui {

namespace {

constexpr int kPictureTop = 36;
constexpr int kMargin = 12;
// The size the dialog keeps when the picture is missing, so it still opens and closes.
constexpr QSize kFallbackPicture{520, 330};

}  // namespace

CDialogExample::CDialogExample(QWidget* parent) : CYUiEntity(parent) {
    // Loaded before the skin set-up: the dialog takes its size from the picture.
    m_picture = LoadSkin(QStringLiteral("daorushuoming.png"));
    const QSize picture = m_picture.isNull() ? kFallbackPicture : m_picture.size();
    setFixedSize(picture.width() + 2 * kMargin, picture.height() + kPictureTop + kMargin);
    setupSkin(Mode::Dialog);
    setCaptionText(QStringLiteral("导入说明"));
    addCloseButton();
}

QRect CDialogExample::pictureRect() const {
    if (m_picture.isNull()) return {};
    return QRect(QPoint(kMargin, kPictureTop), m_picture.size());
}

void CDialogExample::drawExtras(QPainter& painter) {
    if (!m_picture.isNull()) painter.drawPixmap(pictureRect().topLeft(), m_picture);
}

}  // namespace velquist::ui
