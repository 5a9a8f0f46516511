#include "ui/report_control.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionHeader>
#include <algorithm>

#include "ui/qt_text.h"
#include "ui/skin.h"

namespace velquist::ui {

namespace {

constexpr int kRowHeight = 22;
constexpr int kTickBoxSize = 13;
constexpr int kCellPadding = 4;

// Kept as QImage, which needs no running application to be destroyed at exit.
const QImage& TickImage(bool ticked) {
    static const QImage unticked(SkinPath(QStringLiteral("unchecked.png")));
    static const QImage tickedImage(SkinPath(QStringLiteral("checked.png")));
    return ticked ? tickedImage : unticked;
}

}  // namespace

MyReportHeader::MyReportHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setSectionsClickable(true);
    setHighlightSections(false);
    setDefaultAlignment(Qt::AlignCenter);
    connect(this, &QHeaderView::sectionClicked, this, &MyReportHeader::onSectionClicked);
}

void MyReportHeader::setChecked(bool checked) {
    if (m_checked == checked) return;
    m_checked = checked;
    viewport()->update();
}

QRect MyReportHeader::boxRect() const {
    if (count() == 0 || isSectionHidden(0)) return {};
    const int left = sectionViewportPosition(0);
    const QRect section(left, 0, sectionSize(0), height());
    return QRect(QPoint(left + 5, 0), QPoint(left + 45, 20)).intersected(section);
}

void MyReportHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    if (logicalIndex != 0) {
        QHeaderView::paintSection(painter, rect, logicalIndex);
        return;
    }
    // The first section carries the box; its caption moves right of it.
    QStyleOptionHeaderV2 option;
    initStyleOption(&option);
    initStyleOptionForIndex(&option, logicalIndex);
    option.rect = rect;
    painter->save();
    // The style restores the clip it found; an unclipped painter would come back clipped empty.
    painter->setClipRect(rect);
    style()->drawControl(QStyle::CE_HeaderSection, &option, painter, this);
    const int top = rect.top() + (std::min(rect.height(), 20) - kTickBoxSize) / 2;
    CReportItemDelegate::drawTickBox(
        painter, QRect(rect.left() + 7, std::max(top, rect.top()), kTickBoxSize, kTickBoxSize),
        m_checked);
    const QString caption = model() ? model()->headerData(0, Qt::Horizontal).toString() : QString();
    painter->setPen(palette().color(QPalette::ButtonText));
    painter->drawText(rect.adjusted(7 + kTickBoxSize + 5, 0, -2, 0),
                      Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, caption);
    painter->restore();
}

void MyReportHeader::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && boxRect().contains(event->position().toPoint())) {
        m_boxPressed = true;
        event->accept();
        return;
    }
    QHeaderView::mousePressEvent(event);
}

void MyReportHeader::mouseReleaseEvent(QMouseEvent* event) {
    if (m_boxPressed && event->button() == Qt::LeftButton) {
        m_boxPressed = false;
        if (boxRect().contains(event->position().toPoint())) {
            m_checked = !m_checked;
            viewport()->update();
            emit checkBoxClicked(m_checked);
        }
        event->accept();
        return;
    }
    QHeaderView::mouseReleaseEvent(event);
}

void MyReportHeader::onSectionClicked(int logicalIndex) {
    const auto* report = qobject_cast<const CReportModel*>(model());
    if (!report || logicalIndex < 0 || logicalIndex >= report->reportColumnCount() ||
        !report->column(logicalIndex).sortable)
        return;
    if (logicalIndex == m_sortColumn) {
        m_sortDirection = m_sortDirection == kFirstDirection ? kOtherDirection : kFirstDirection;
    } else {
        m_sortColumn = logicalIndex;
        m_sortDirection = kFirstDirection;
    }
    emit sortRequested(m_sortColumn, m_sortDirection);
}

CReportItemDelegate::CReportItemDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

void CReportItemDelegate::setIconImage(int index, const QImage& image) {
    if (index < 1 || index > kMaxIcons) return;
    QImage keyed = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb red = qRgb(255, 0, 0);
    for (int y = 0; y < keyed.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(keyed.scanLine(y));
        for (int x = 0; x < keyed.width(); ++x)
            if ((line[x] & 0x00ffffff) == (red & 0x00ffffff)) line[x] = 0;
    }
    m_icons[static_cast<std::size_t>(index)] = QPixmap::fromImage(keyed);
}

void CReportItemDelegate::drawTickBox(QPainter* painter, const QRect& area, bool ticked) {
    const QImage& image = TickImage(ticked);
    if (!image.isNull()) {
        const QPoint at(area.left(), area.center().y() - image.height() / 2);
        painter->drawImage(at, image);
        return;
    }
    // Without the skin images the box is still visible and tells both states apart.
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(QPen(QColor(120, 128, 150), 1));
    painter->setBrush(Qt::white);
    painter->drawRect(QRectF(area).adjusted(0.5, 0.5, -0.5, -0.5));
    if (ticked) {
        painter->setPen(QPen(QColor(40, 100, 200), 2));
        const QRectF r(area);
        painter->drawPolyline(QPolygonF({QPointF(r.left() + 3, r.center().y()),
                                         QPointF(r.left() + r.width() * 0.42, r.bottom() - 3),
                                         QPointF(r.right() - 2.5, r.top() + 3)}));
    }
    painter->restore();
}

void CReportItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    // Reads the model directly: the roles would box every value into a QVariant per cell.
    const auto* model = static_cast<const CReportModel*>(index.model());
    const int row = index.row();
    const int column = index.column();
    const bool ticked = model->ticks().isTicked(row);
    const ReportColumn& columnInfo = model->column(column);
    const QString text = model->textAt(row, column);

    painter->save();
    painter->fillRect(option.rect, ticked ? CReportModel::tickedBackground() : QColor(Qt::white));
    QRect textRect = option.rect.adjusted(kCellPadding, 0, -kCellPadding, 0);
    if (columnInfo.kind == ReportColumnKind::Check) {
        const QRect box(textRect.left(), option.rect.center().y() - kTickBoxSize / 2, kTickBoxSize,
                        kTickBoxSize);
        drawTickBox(painter, box, ticked);
        textRect.setLeft(box.right() + 6);
        const int icon = model->ticks().iconIndex(row);
        if (icon > 0 && icon <= kMaxIcons) {
            const QPixmap& pixmap = m_icons[static_cast<std::size_t>(icon)];
            if (!pixmap.isNull()) {
                painter->drawPixmap(textRect.left(), option.rect.center().y() - pixmap.height() / 2,
                                    pixmap);
                textRect.setLeft(textRect.left() + pixmap.width() + 3);
            }
        }
    }
    const QFont& font = model->fontFor(column);
    painter->setFont(font);
    painter->setPen(model->textColorAt(row, column, text));
    const int move = text.isEmpty() ? 0 : model->moveAt(row, column);
    // A mark keeps its room at the end of the cell, so a long text gives way to it.
    QRect drawnRect = textRect;
    if (move != 0) drawnRect.setRight(drawnRect.right() - kMarkWidth - kMarkGap);
    // Eliding lays the text out once more, so it is skipped for texts that surely fit.
    const QFontMetrics metrics(font);
    const bool fits = static_cast<qint64>(text.size()) * metrics.maxWidth() <= drawnRect.width();
    const QString shown = fits ? text : metrics.elidedText(text, Qt::ElideRight, drawnRect.width());
    painter->drawText(drawnRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
    if (move != 0) {
        const int left =
            std::min(drawnRect.left() + metrics.horizontalAdvance(shown), drawnRect.right()) +
            kMarkGap;
        drawMoveMark(painter, QRect(left, option.rect.top(), kMarkWidth, option.rect.height()),
                     move > 0);
    }
    painter->restore();
}

void CReportItemDelegate::drawMoveMark(QPainter* painter, const QRect& area, bool up) {
    // A filled triangle rather than a glyph: it looks the same in every font.
    const qreal half = kMarkWidth / 2.0;
    const qreal height = kMarkWidth * 0.85;
    const QPointF centre(area.left() + half, area.center().y() + 0.5);
    const qreal tip = up ? centre.y() - height / 2 : centre.y() + height / 2;
    const qreal base = up ? centre.y() + height / 2 : centre.y() - height / 2;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(Qt::NoPen);
    painter->setBrush(up ? kRiseColor : kFallColor);
    painter->drawPolygon(QPolygonF({QPointF(centre.x(), tip), QPointF(area.left(), base),
                                    QPointF(area.left() + kMarkWidth, base)}));
    painter->restore();
}

CMyReportControl::CMyReportControl(QWidget* parent)
    : QTableView(parent),
      m_model(new CReportModel(this)),
      m_header(new MyReportHeader(this)),
      m_delegate(new CReportItemDelegate(this)),
      m_emptyText(QStringLiteral("您暂未选择关键词")) {
    setHorizontalHeader(m_header);
    setModel(m_model);
    setItemDelegate(m_delegate);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setMouseTracking(true);
    setGridStyle(Qt::SolidLine);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(kRowHeight);
    m_header->setStretchLastSection(false);
    connect(m_header, &MyReportHeader::sortRequested, this, &CMyReportControl::sortRequested);
    connect(m_header, &MyReportHeader::checkBoxClicked, this,
            &CMyReportControl::headerCheckToggled);
}

void CMyReportControl::resetReport() {
    m_model->resetReport();
    m_header->setChecked(false);
    m_anchorRow = m_pressedRow = m_pressedColumn = -1;
    m_buttonHeld = m_dragged = false;
}

int CMyReportControl::addReportColumn(const QString& header, int width, bool sortable,
                                      ReportColumnKind kind) {
    const int index = m_model->addColumn(ReportColumn{header, width, sortable, kind});
    setColumnWidth(index, width);
    return index;
}

void CMyReportControl::setRows(int rowCount) {
    m_model->setRows(rowCount);
    m_header->setChecked(false);
    m_anchorRow = m_pressedRow = m_pressedColumn = -1;
    m_buttonHeld = m_dragged = false;
}

void CMyReportControl::setRowTicked(int row, bool ticked) {
    if (m_model->ticks().setTicked(row, ticked)) refreshRow(row);
    updateHeaderBox();
}

void CMyReportControl::tickAll() {
    m_model->ticks().tickAll();
    m_header->setChecked(true);
    viewport()->update();
}

void CMyReportControl::untickAll() {
    m_model->ticks().untickAll();
    m_header->setChecked(false);
    viewport()->update();
}

void CMyReportControl::setRowLocked(int row, bool locked) {
    m_model->ticks().setLocked(row, locked);
    refreshRow(row);
    updateHeaderBox();
}

void CMyReportControl::setRowIcon(int row, int index) {
    m_model->ticks().setIconIndex(row, index);
    refreshRow(row);
}

void CMyReportControl::setIconImage(int index, const QImage& image) {
    m_delegate->setIconImage(index, image);
    viewport()->update();
}

void CMyReportControl::addColorRule(const QString& text, const QColor& color, bool exact) {
    m_model->colors().addRule(text, color, exact);
    viewport()->update();
}

void CMyReportControl::setColumnColor(int column, const QColor& color) {
    m_model->colors().setColumnColor(column, color);
    viewport()->update();
}

void CMyReportControl::setEmptyText(const QString& text) {
    m_emptyText = text;
    viewport()->update();
}

void CMyReportControl::syncSiteColumns(int firstSiteColumn,
                                       const std::vector<PromotionSite>& sites) {
    for (const PromotionSite& site : sites) {
        const QString address = Q(site.url);
        bool present = false;
        for (int column = firstSiteColumn; column < m_model->reportColumnCount(); ++column)
            present = present || m_model->column(column).header == address;
        if (!present) addReportColumn(address, kSiteColumnWidth, true);
    }
    for (int column = firstSiteColumn; column < m_model->reportColumnCount(); ++column) {
        const QString& header = m_model->column(column).header;
        const bool enabled =
            std::any_of(sites.begin(), sites.end(), [&header](const PromotionSite& site) {
                return site.selected != 0 && Q(site.url) == header;
            });
        setColumnHidden(column, !enabled);
    }
}

int CMyReportControl::contentX(const QMouseEvent* event) const {
    // The tick area belongs to the first column, so it scrolls with it.
    return qRound(event->position().x()) + horizontalOffset();
}

void CMyReportControl::leftPress(const QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    const int row = rowAt(pos.y());
    m_dragged = false;
    m_buttonHeld = row >= 0;
    m_pressedRow = row;
    m_pressedColumn = row >= 0 ? columnAt(pos.x()) : -1;
    const auto modifiers = event->modifiers();
    if (row >= 0 && !(modifiers & (Qt::ShiftModifier | Qt::ControlModifier)) &&
        contentX(event) > kAnchorMinX)
        m_anchorRow = row;
}

void CMyReportControl::mousePressEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    switch (event->button()) {
        case Qt::LeftButton:
            setFocus(Qt::MouseFocusReason);
            leftPress(event);
            event->accept();
            return;
        case Qt::RightButton:
            emit rightClicked(rowAt(pos.y()), columnAt(pos.x()), event->globalPosition().toPoint());
            event->accept();
            return;
        default:
            QTableView::mousePressEvent(event);
    }
}

void CMyReportControl::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    const int row = rowAt(pos.y());
    const int column = columnAt(pos.x());
    const bool overLink =
        row >= 0 && column >= 0 && m_model->column(column).kind == ReportColumnKind::Link;
    if (overLink)
        viewport()->setCursor(Qt::PointingHandCursor);
    else
        viewport()->unsetCursor();

    const auto modifiers = event->modifiers();
    if (!m_buttonHeld || !(event->buttons() & Qt::LeftButton) || contentX(event) <= kTickAreaMaxX ||
        (modifiers & (Qt::ShiftModifier | Qt::ControlModifier)) || row < 0)
        return;
    // A drag starts once the pointer reaches another row, so a shaky click stays a click.
    if (!m_dragged && row == m_pressedRow) return;
    m_dragged = true;
    if (m_model->ticks().tickOnlyRange(m_pressedRow, row)) viewport()->update();
    ticksChanged();
}

void CMyReportControl::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QTableView::mouseReleaseEvent(event);
        return;
    }
    event->accept();
    const bool held = m_buttonHeld;
    const bool dragged = m_dragged;
    m_buttonHeld = false;
    m_dragged = false;
    if (!held || dragged) return;

    const QPoint pos = event->position().toPoint();
    const int row = rowAt(pos.y());
    if (row < 0) return;
    const int column = columnAt(pos.x());
    const auto modifiers = event->modifiers();
    CReportTickState& ticks = m_model->ticks();
    if (modifiers & Qt::ShiftModifier)
        ticks.tickOnlyRange(m_anchorRow >= 0 ? m_anchorRow : row, row);
    else if (!(modifiers & Qt::ControlModifier) && contentX(event) > kTickAreaMaxX)
        ticks.tickOnlyRange(row, row);
    else
        ticks.toggle(row);
    viewport()->update();
    ticksChanged();

    if (column >= 0 && row == m_pressedRow && column == m_pressedColumn &&
        m_model->column(column).kind == ReportColumnKind::Link) {
        m_model->markLinkVisited(row, column);
        emit linkClicked(row, column);
    }
}

void CMyReportControl::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QTableView::mouseDoubleClickEvent(event);
        return;
    }
    // The second press of a double click counts as a press, so its release follows the
    // click rules like the first one.
    leftPress(event);
    const QPoint pos = event->position().toPoint();
    const int row = rowAt(pos.y());
    const int column = columnAt(pos.x());
    if (row >= 0 && column >= 0) {
        event->accept();
        emit cellDoubleClicked(row, column);
        return;
    }
    QTableView::mouseDoubleClickEvent(event);
}

void CMyReportControl::paintEvent(QPaintEvent* event) {
    QTableView::paintEvent(event);
    if (m_model->reportRowCount() != 0 || m_emptyText.isEmpty()) return;
    QPainter painter(viewport());
    painter.setPen(QColor(120, 120, 120));
    painter.drawText(viewport()->rect().adjusted(0, 20, 0, 0), Qt::AlignHCenter | Qt::AlignTop,
                     m_emptyText);
}

void CMyReportControl::ticksChanged() {
    updateHeaderBox();
    emit ticksChangedByMouse();
}

void CMyReportControl::updateHeaderBox() { m_header->setChecked(m_model->ticks().allTicked()); }

}  // namespace velquist::ui
