#pragma once

#include <QColor>
#include <QSplitter>
#include <QSplitterHandle>
#include <array>

namespace velquist::ui {

// The bar between the panes: filled with the bar colour, edged like a raised white frame.
class CYSplitterBar final : public QSplitterHandle {
    Q_OBJECT

  public:
    CYSplitterBar(Qt::Orientation orientation, QSplitter* parent);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// A static splitter of one row and two columns. Each column has an ideal and a minimum width;
// recalcLayout() gives the first column its ideal width and the second the rest, so a page that
// calls it on every resize always comes back to the same first column. GUI thread only.
class CYSplitterWnd final : public QSplitter {
    Q_OBJECT

  public:
    static constexpr int kBarWidth = 7;
    static QColor barColor() { return QColor(170, 179, 207); }

    explicit CYSplitterWnd(QWidget* parent = nullptr);

    // Column 0 or 1; the widget of that column must have been added.
    void setColumnInfo(int column, int ideal, int minimum);
    int idealWidth(int column) const { return m_ideal[static_cast<std::size_t>(column)]; }
    int minimumWidth(int column) const { return m_minimum[static_cast<std::size_t>(column)]; }
    void recalcLayout();
    // Puts the first column back to its minimum when it has become narrower; true when it did.
    bool enforceMinimum();

  protected:
    QSplitterHandle* createHandle() override;

  private:
    std::array<int, 2> m_ideal{0, 0};
    std::array<int, 2> m_minimum{0, 0};
};

}  // namespace velquist::ui
