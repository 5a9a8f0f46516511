#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QFont>
#include <QString>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <vector>

namespace velquist::ui {

// What a report list asks of the page that owns its rows. The list keeps no cell texts: it asks
// for the cells the view is about to draw, on the user-interface thread.
class CReportRowSource {
  public:
    virtual ~CReportRowSource() = default;
    virtual QString cellText(int row, int column) const = 0;
    // How the cell's value moved since the check before: 1 up, -1 down, 0 no mark. The list
    // draws it beside the text, which stays as it is.
    virtual int cellMove(int /*row*/, int /*column*/) const { return 0; }
    virtual QString cellToolTip(int /*row*/, int /*column*/) const { return {}; }
};

// How a column draws its cells: the first column of every list holds the tick box and a caption.
enum class ReportColumnKind { Check, Text, Link };

struct ReportColumn {
    QString header;
    int width = 100;
    bool sortable = false;
    ReportColumnKind kind = ReportColumnKind::Text;
};

// A text colour rule: with `exact` the cell text must equal the rule's text, otherwise it only
// has to contain it.
struct STRUCT_COLOR_MATCH {
    QColor color;
    bool exact = false;
};

// The text colour rules of one list. Rules are kept by text, so their order is the texts' order.
// Any thread may add rules; each map has its own lock.
class CReportColorRules {
  public:
    void addRule(const QString& text, const QColor& color, bool exact);
    void setColumnColor(int column, const QColor& color);
    void clear();
    // The colour a cell's text is drawn in; invalid when nothing applies (the cell is black).
    QColor colorFor(int column, const QString& text) const;

  private:
    mutable std::mutex m_ruleMutex;
    std::map<QString, STRUCT_COLOR_MATCH> m_rules;  // guarded by m_ruleMutex
    mutable std::mutex m_columnMutex;
    std::map<int, QColor> m_columnColors;  // guarded by m_columnMutex
};

// The per-row state a list keeps itself: ticks, icon indices and locked rows. The pages change it
// on the user-interface thread; their workers read the ticked rows through collectTicked(), so
// every operation holds m_mutex for its whole duration.
class CReportTickState {
  public:
    // All rows unticked with icon 0; locked rows stay locked.
    void reset(int rowCount);
    int rowCount() const;
    int tickedCount() const;
    bool isTicked(int row) const;
    // True when there are rows and every one is ticked.
    bool allTicked() const;

    // A locked row is never ticked; locking a ticked row unticks it.
    void setLocked(int row, bool locked);
    bool isLocked(int row) const;
    void clearLocked();

    // Each returns whether a tick changed. Rows out of range are ignored.
    bool setTicked(int row, bool ticked);
    bool toggle(int row);
    bool tickAll();
    bool untickAll();
    // Unticks everything, then ticks `first`..`last` inclusive (either order) except locked rows.
    bool tickOnlyRange(int first, int last);

    int iconIndex(int row) const;
    void setIconIndex(int row, int index);

    // The ticked rows in ascending order.
    std::vector<int> collectTicked() const;

  private:
    bool validLocked(int row) const { return row >= 0 && row < static_cast<int>(m_ticked.size()); }
    bool setTickedLocked(int row, bool ticked);

    mutable std::mutex m_mutex;
    std::vector<std::uint8_t> m_ticked;  // guarded by m_mutex
    std::vector<int> m_icons;            // guarded by m_mutex
    int m_tickedCount = 0;               // guarded by m_mutex
    std::set<int> m_locked;              // guarded by m_mutex
};

// The table model of a report list: columns, a row count and roles computed on request from the
// row source, the tick state and the colour rules. It holds nothing per cell, so a list of any
// length costs a few bytes per row. User-interface thread only, except where the tick state and
// the colour rules say otherwise.
class CReportModel final : public QAbstractTableModel {
    Q_OBJECT

  public:
    enum Role {
        TickedRole = Qt::UserRole + 1,  // bool
        IconIndexRole,                  // int
        ColumnKindRole,                 // int of ReportColumnKind
        LinkVisitedRole,                // bool
        MoveRole,                       // int: 1 up, -1 down, 0 no mark
    };

    static QColor tickedBackground() { return QColor(226, 208, 244); }
    static QColor linkColor() { return QColor(0, 0, 255); }
    static QColor visitedLinkColor() { return QColor(128, 0, 128); }

    explicit CReportModel(QObject* parent = nullptr);

    void setSource(const CReportRowSource* source);
    const CReportRowSource* source() const { return m_source; }

    // No rows and no columns.
    void resetReport();
    int addColumn(const ReportColumn& column);
    const ReportColumn& column(int index) const { return m_columns.at(index); }
    int reportColumnCount() const { return static_cast<int>(m_columns.size()); }
    // Sets the row count; every row unticked, icon 0, no link visited.
    void setRows(int rowCount);
    int reportRowCount() const { return m_rowCount; }

    CReportTickState& ticks() { return m_ticks; }
    const CReportTickState& ticks() const { return m_ticks; }
    CReportColorRules& colors() { return m_colors; }
    const CReportColorRules& colors() const { return m_colors; }

    void markLinkVisited(int row, int column);
    // Tells the views that these rows' cells changed; the texts are asked again when drawn.
    void refreshRows(int first, int last);
    void refreshAll();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    QString textAt(int row, int column) const;
    int moveAt(int row, int column) const;
    QColor textColorAt(int row, int column, const QString& text) const;
    const QFont& fontFor(int column) const;

  private:
    const CReportRowSource* m_source = nullptr;
    std::vector<ReportColumn> m_columns;
    int m_rowCount = 0;
    CReportTickState m_ticks;
    CReportColorRules m_colors;
    std::set<std::pair<int, int>> m_visitedLinks;
    QFont m_font;
    QFont m_linkFont;
};

}  // namespace velquist::ui
