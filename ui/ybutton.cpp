#include "ui/ybutton.h"

#include <QEnterEvent>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include "ui/skin.h"

namespace velquist::ui {

CYButton::CYButton(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
    m_tipTimer.setSingleShot(true);
    m_tipTimer.setInterval(kTooltipDelayMs);
    connect(&m_tipTimer, &QTimer::timeout, this, &CYButton::showTip);
}

bool CYButton::setImage(const QString& fileOrPath, int frameCount, bool showText) {
    const QString path = fileOrPath.contains('/') ? fileOrPath : SkinPath(fileOrPath);
    QPixmap strip;
    if (QFileInfo::exists(path)) strip.load(path);
    setImage(strip, frameCount, showText);
    return !strip.isNull();
}

void CYButton::setImage(const QPixmap& strip, int frameCount, bool showText) {
    m_strip = strip;
    m_frameCount = std::max(1, frameCount);
    m_showText = showText;
    // Without its image the button keeps a small clickable area; it just draws nothing.
    setFixedSize(m_strip.isNull() ? QSize(24, 24) : frameSize());
    update();
}

void CYButton::setState(int state) {
    m_state = state;
    update();
}

void CYButton::setBold(bool bold) {
    m_bold = bold;
    update();
}

void CYButton::setTextColors(const QColor& normal, const QColor& pressed) {
    m_textColor = normal;
    m_pressedTextColor = pressed;
    update();
}

int CYButton::frameIndex() const {
    if (!isEnabled()) return m_frameCount > kDisabledFrame ? kDisabledFrame : Normal;
    return std::min(m_state, m_frameCount - 1);
}

QSize CYButton::frameSize() const {
    if (m_strip.isNull()) return {};
    const qreal ratio = m_strip.devicePixelRatio();
    return QSize(int(m_strip.width() / ratio) / m_frameCount, int(m_strip.height() / ratio));
}

QSize CYButton::sizeHint() const {
    const QSize frame = frameSize();
    return frame.isEmpty() ? QSize(24, 24) : frame;
}

void CYButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!m_strip.isNull()) {
        const int frameWidth = m_strip.width() / m_frameCount;
        const QRect source(frameIndex() * frameWidth, 0, frameWidth, m_strip.height());
        painter.drawPixmap(rect(), m_strip, source);
    }
    if (m_showText && !text().isEmpty()) {
        painter.setFont(SkinFont(14, m_bold));
        if (!isEnabled())
            painter.setPen(palette().color(QPalette::Disabled, QPalette::WindowText));
        else
            painter.setPen(m_state == Pressed ? m_pressedTextColor : m_textColor);
        painter.drawText(rect(), Qt::AlignCenter, text());
    }
}

void CYButton::enterEvent(QEnterEvent* event) {
    if (m_state == Normal) setState(Hover);
    if (!m_tip.isEmpty()) m_tipTimer.start();
    QAbstractButton::enterEvent(event);
}

void CYButton::leaveEvent(QEvent* event) {
    if (m_state == Hover) setState(Normal);
    m_tipTimer.stop();
    QAbstractButton::leaveEvent(event);
}

void CYButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) setState(Pressed);
    QAbstractButton::mousePressEvent(event);
}

void CYButton::mouseReleaseEvent(QMouseEvent* event) {
    // The state drops first, so a click handler that selects this button (a tab) keeps the
    // pressed frame it sets.
    if (event->button() == Qt::LeftButton && !m_stayPressed) setState(Normal);
    QAbstractButton::mouseReleaseEvent(event);
}

bool CYButton::event(QEvent* event) {
    // The tip has its own timing; the style's delayed tooltip would show it a second time.
    if (event->type() == QEvent::ToolTip) return true;
    return QAbstractButton::event(event);
}

void CYButton::showTip() {
    if (!underMouse() || m_tip.isEmpty()) return;
    QPalette tipPalette = QToolTip::palette();
    tipPalette.setColor(QPalette::ToolTipBase, kTooltipBackground);
    QToolTip::setPalette(tipPalette);
    QToolTip::showText(mapToGlobal(QPoint(0, height())), m_tip, this, rect(), kTooltipShowMs);
}

}  // namespace velquist::ui
