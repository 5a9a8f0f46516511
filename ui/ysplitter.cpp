#include "ui/ysplitter.h"

#include <QPainter>
#include <algorithm>

namespace velquist::ui {

CYSplitterBar::CYSplitterBar(Qt::Orientation orientation, QSplitter* parent)
    : QSplitterHandle(orientation, parent) {}

void CYSplitterBar::paintEvent(QPaintEvent*) {
    // A bar drawn while the first column is too narrow first puts the column back.
    if (auto* owner = qobject_cast<CYSplitterWnd*>(splitter()); owner && owner->enforceMinimum())
        return;
    QPainter painter(this);
    const QRect area = rect();
    painter.fillRect(area, CYSplitterWnd::barColor());
    painter.setPen(Qt::white);
    painter.drawLine(area.topLeft(), area.bottomLeft());
    painter.drawLine(area.topRight(), area.bottomRight());
}

CYSplitterWnd::CYSplitterWnd(QWidget* parent) : QSplitter(Qt::Horizontal, parent) {
    setObjectName(QStringLiteral("splitter"));
    setHandleWidth(kBarWidth);
    setChildrenCollapsible(false);
    setOpaqueResize(true);
}

QSplitterHandle* CYSplitterWnd::createHandle() { return new CYSplitterBar(orientation(), this); }

void CYSplitterWnd::setColumnInfo(int column, int ideal, int minimum) {
    if (column < 0 || column > 1) return;
    m_ideal[static_cast<std::size_t>(column)] = ideal;
    m_minimum[static_cast<std::size_t>(column)] = minimum;
    if (QWidget* pane = widget(column)) pane->setMinimumWidth(minimum);
}

void CYSplitterWnd::recalcLayout() {
    if (count() < 2) return;
    const int room = std::max(0, width() - handleWidth());
    const int first =
        std::clamp(m_ideal[0], m_minimum[0], std::max(m_minimum[0], room - m_minimum[1]));
    setSizes({first, std::max(room - first, m_minimum[1])});
}

bool CYSplitterWnd::enforceMinimum() {
    if (count() < 2 || sizes().value(0) >= m_minimum[0]) return false;
    const int room = std::max(0, width() - handleWidth());
    setSizes({m_minimum[0], std::max(room - m_minimum[0], m_minimum[1])});
    return true;
}

}  // namespace velquist::ui
