#pragma once

#include <QHeaderView>
#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QStyledItemDelegate>
#include <QTableView>
#include <array>
#include <vector>

#include "core/process_state.h"
#include "ui/report_model.h"

namespace velquist::ui {

// The header of a report list: a tick box in the first column's header and the sort requests.
// User-interface thread only.
class MyReportHeader final : public QHeaderView {
    Q_OBJECT

  public:
    static constexpr int kFirstDirection = 2;  // ascending
    static constexpr int kOtherDirection = 3;  // descending

    explicit MyReportHeader(QWidget* parent = nullptr);

    bool isChecked() const { return m_checked; }
    void setChecked(bool checked);
    int sortColumn() const { return m_sortColumn; }
    int sortDirection() const { return m_sortDirection; }
    // Where the box reacts, in header coordinates: (5, 0)-(45, 20) of the first column's
    // section, as far as that section reaches.
    QRect boxRect() const;

  signals:
    // The box was clicked; `checked` is its new state.
    void checkBoxClicked(bool checked);
    // A sortable column was clicked: direction 2 on the first click on a column, then 3, 2, ...
    void sortRequested(int column, int direction);

  protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    void onSectionClicked(int logicalIndex);

    bool m_checked = false;
    bool m_boxPressed = false;
    int m_sortColumn = -1;
    int m_sortDirection = kFirstDirection;
};

// Draws a report list's cells from the model's roles: the ticked-row background, the tick box
// and row icon of the first column, text and link colours.
class CReportItemDelegate final : public QStyledItemDelegate {
  public:
    static constexpr int kMaxIcons = 10;

    explicit CReportItemDelegate(QObject* parent = nullptr);

    // Red pixels of the image are drawn transparent. Index 1 .. kMaxIcons; 0 means no icon.
    void setIconImage(int index, const QImage& image);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

    static void drawTickBox(QPainter* painter, const QRect& area, bool ticked);
    // The mark of a rank that moved since the check before: a green ▲ or a red ▼.
    static void drawMoveMark(QPainter* painter, const QRect& area, bool up);

    static constexpr int kMarkWidth = 9;
    static constexpr int kMarkGap = 4;
    static inline const QColor kRiseColor{0, 158, 72};
    static inline const QColor kFallColor{222, 30, 30};

  private:
    std::array<QPixmap, kMaxIcons + 1> m_icons;
};

// A list of virtual rows: the owning page tells it how many rows there are and answers for the
// texts of the cells being drawn; the list keeps the ticks, locked rows and colour rules and
// reports what the mouse did through its signals. User-interface thread only, except
// collectTicked(), which any thread may call.
class CMyReportControl : public QTableView {
    Q_OBJECT

  public:
    // Presses right of this x make the row the anchor of a later Shift-click.
    static constexpr int kAnchorMinX = 16;
    // Clicks at or left of this x are on the tick box: they toggle one row.
    static constexpr int kTickAreaMaxX = 50;
    static constexpr int kSiteColumnWidth = 180;

    explicit CMyReportControl(QWidget* parent = nullptr);

    CReportModel* reportModel() const { return m_model; }
    MyReportHeader* reportHeader() const { return m_header; }

    void setRowSource(const CReportRowSource* source) { m_model->setSource(source); }
    // No rows and no columns.
    void resetReport();
    int addReportColumn(const QString& header, int width, bool sortable,
                        ReportColumnKind kind = ReportColumnKind::Text);
    // All rows unticked, icon 0; the header box cleared.
    void setRows(int rowCount);
    int reportRowCount() const { return m_model->reportRowCount(); }

    int tickedCount() const { return m_model->ticks().tickedCount(); }
    bool isRowTicked(int row) const { return m_model->ticks().isTicked(row); }
    std::vector<int> collectTicked() const { return m_model->ticks().collectTicked(); }
    void setRowTicked(int row, bool ticked);
    // Ticks every row that is not locked and sets the header box; untickAll clears both.
    void tickAll();
    void untickAll();
    void setRowLocked(int row, bool locked);
    bool isRowLocked(int row) const { return m_model->ticks().isLocked(row); }
    void setRowIcon(int row, int index);
    void setIconImage(int index, const QImage& image);

    void addColorRule(const QString& text, const QColor& color, bool exact);
    void setColumnColor(int column, const QColor& color);

    // The page changed these rows' data; only they are drawn again.
    void refreshRow(int row) { m_model->refreshRows(row, row); }
    void refreshAll() { m_model->refreshAll(); }

    QString emptyText() const { return m_emptyText; }
    void setEmptyText(const QString& text);

    // Site columns of a keyword list, from `firstSiteColumn` on: adds a column (header = the
    // address) for every site that has none yet, then shows exactly the columns of enabled
    // sites.
    void syncSiteColumns(int firstSiteColumn, const std::vector<PromotionSite>& sites);

  signals:
    void sortRequested(int column, int direction);
    void headerCheckToggled(bool checked);
    // Ticks were changed by the mouse.
    void ticksChangedByMouse();
    void cellDoubleClicked(int row, int column);
    void linkClicked(int row, int column);
    void rightClicked(int row, int column, QPoint globalPos);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    int contentX(const QMouseEvent* event) const;
    void leftPress(const QMouseEvent* event);
    void ticksChanged();
    void updateHeaderBox();

    CReportModel* m_model;
    MyReportHeader* m_header;
    CReportItemDelegate* m_delegate;
    QString m_emptyText;
    int m_anchorRow = -1;
    int m_pressedRow = -1;
    int m_pressedColumn = -1;
    bool m_buttonHeld = false;
    bool m_dragged = false;
};

}  // namespace velquist::ui
