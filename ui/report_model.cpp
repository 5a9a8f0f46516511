#include "ui/report_model.h"

#include <algorithm>

namespace velquist::ui {

void CReportColorRules::addRule(const QString& text, const QColor& color, bool exact) {
    std::lock_guard lock(m_ruleMutex);
    m_rules[text] = STRUCT_COLOR_MATCH{color, exact};
}

void CReportColorRules::setColumnColor(int column, const QColor& color) {
    std::lock_guard lock(m_columnMutex);
    m_columnColors[column] = color;
}

void CReportColorRules::clear() {
    {
        std::lock_guard lock(m_ruleMutex);
        m_rules.clear();
    }
    std::lock_guard lock(m_columnMutex);
    m_columnColors.clear();
}

QColor CReportColorRules::colorFor(int column, const QString& text) const {
    QColor color;
    {
        std::lock_guard lock(m_columnMutex);
        const auto found = m_columnColors.find(column);
        if (found != m_columnColors.end()) color = found->second;
    }
    std::lock_guard lock(m_ruleMutex);
    const auto exact = m_rules.find(text);
    if (exact != m_rules.end() && exact->second.exact) return exact->second.color;
    for (const auto& [ruleText, rule] : m_rules) {
        if (!rule.exact && text.contains(ruleText)) return rule.color;
    }
    return color;
}

void CReportTickState::reset(int rowCount) {
    std::lock_guard lock(m_mutex);
    const auto count = static_cast<std::size_t>(std::max(rowCount, 0));
    m_ticked.assign(count, 0);
    m_icons.assign(count, 0);
    m_tickedCount = 0;
}

int CReportTickState::rowCount() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_ticked.size());
}

int CReportTickState::tickedCount() const {
    std::lock_guard lock(m_mutex);
    return m_tickedCount;
}

bool CReportTickState::isTicked(int row) const {
    std::lock_guard lock(m_mutex);
    return validLocked(row) && m_ticked[static_cast<std::size_t>(row)] != 0;
}

bool CReportTickState::allTicked() const {
    std::lock_guard lock(m_mutex);
    // Locked rows can never be ticked, so they do not keep the header box clear.
    const int rows = static_cast<int>(m_ticked.size());
    const auto lockedInRange = std::count_if(m_locked.begin(), m_locked.lower_bound(rows),
                                             [](int row) { return row >= 0; });
    return m_tickedCount > 0 && m_tickedCount == rows - static_cast<int>(lockedInRange);
}

void CReportTickState::setLocked(int row, bool locked) {
    std::lock_guard lock(m_mutex);
    if (locked) {
        m_locked.insert(row);
        setTickedLocked(row, false);
    } else {
        m_locked.erase(row);
    }
}

bool CReportTickState::isLocked(int row) const {
    std::lock_guard lock(m_mutex);
    return m_locked.count(row) != 0;
}

void CReportTickState::clearLocked() {
    std::lock_guard lock(m_mutex);
    m_locked.clear();
}

bool CReportTickState::setTickedLocked(int row, bool ticked) {
    if (!validLocked(row)) return false;
    if (ticked && m_locked.count(row) != 0) ticked = false;
    auto& cell = m_ticked[static_cast<std::size_t>(row)];
    if ((cell != 0) == ticked) return false;
    cell = ticked ? 1 : 0;
    m_tickedCount += ticked ? 1 : -1;
    return true;
}

bool CReportTickState::setTicked(int row, bool ticked) {
    std::lock_guard lock(m_mutex);
    return setTickedLocked(row, ticked);
}

bool CReportTickState::toggle(int row) {
    std::lock_guard lock(m_mutex);
    if (!validLocked(row)) return false;
    return setTickedLocked(row, m_ticked[static_cast<std::size_t>(row)] == 0);
}

bool CReportTickState::tickAll() {
    std::lock_guard lock(m_mutex);
    bool changed = false;
    for (int row = 0; row < static_cast<int>(m_ticked.size()); ++row)
        changed = setTickedLocked(row, true) || changed;
    return changed;
}

bool CReportTickState::untickAll() {
    std::lock_guard lock(m_mutex);
    const bool changed = m_tickedCount != 0;
    std::fill(m_ticked.begin(), m_ticked.end(), 0);
    m_tickedCount = 0;
    return changed;
}

bool CReportTickState::tickOnlyRange(int first, int last) {
    std::lock_guard lock(m_mutex);
    if (first > last) std::swap(first, last);
    const int rows = static_cast<int>(m_ticked.size());
    first = std::max(first, 0);
    last = std::min(last, rows - 1);
    bool changed = false;
    for (int row = 0; row < rows; ++row)
        changed = setTickedLocked(row, row >= first && row <= last) || changed;
    return changed;
}

int CReportTickState::iconIndex(int row) const {
    std::lock_guard lock(m_mutex);
    return validLocked(row) ? m_icons[static_cast<std::size_t>(row)] : 0;
}

void CReportTickState::setIconIndex(int row, int index) {
    std::lock_guard lock(m_mutex);
    if (validLocked(row)) m_icons[static_cast<std::size_t>(row)] = index;
}

std::vector<int> CReportTickState::collectTicked() const {
    std::lock_guard lock(m_mutex);
    std::vector<int> rows;
    rows.reserve(static_cast<std::size_t>(m_tickedCount));
    for (std::size_t row = 0; row < m_ticked.size(); ++row)
        if (m_ticked[row] != 0) rows.push_back(static_cast<int>(row));
    return rows;
}

CReportModel::CReportModel(QObject* parent) : QAbstractTableModel(parent) {
    m_font = QFont(QStringLiteral("Arial"));
    m_font.setPixelSize(15);
    m_font.setWeight(QFont::Normal);
    m_linkFont = m_font;
    m_linkFont.setUnderline(true);
}

void CReportModel::setSource(const CReportRowSource* source) {
    m_source = source;
    refreshAll();
}

void CReportModel::resetReport() {
    beginResetModel();
    m_columns.clear();
    m_rowCount = 0;
    m_ticks.reset(0);
    m_visitedLinks.clear();
    endResetModel();
}

int CReportModel::addColumn(const ReportColumn& column) {
    const int index = static_cast<int>(m_columns.size());
    beginInsertColumns(QModelIndex(), index, index);
    m_columns.push_back(column);
    endInsertColumns();
    return index;
}

void CReportModel::setRows(int rowCount) {
    beginResetModel();
    m_rowCount = std::max(rowCount, 0);
    m_ticks.reset(m_rowCount);
    m_visitedLinks.clear();
    endResetModel();
}

void CReportModel::markLinkVisited(int row, int column) {
    if (m_visitedLinks.insert({row, column}).second) refreshRows(row, row);
}

void CReportModel::refreshRows(int first, int last) {
    if (m_rowCount == 0 || m_columns.empty()) return;
    first = std::clamp(first, 0, m_rowCount - 1);
    last = std::clamp(last, 0, m_rowCount - 1);
    emit dataChanged(index(first, 0), index(last, reportColumnCount() - 1));
}

void CReportModel::refreshAll() { refreshRows(0, m_rowCount - 1); }

int CReportModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_rowCount;
}

int CReportModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : reportColumnCount();
}

QString CReportModel::textAt(int row, int column) const {
    return m_source ? m_source->cellText(row, column) : QString();
}

int CReportModel::moveAt(int row, int column) const {
    return m_source ? m_source->cellMove(row, column) : 0;
}

QColor CReportModel::textColorAt(int row, int column, const QString& text) const {
    if (m_columns[static_cast<std::size_t>(column)].kind == ReportColumnKind::Link)
        return m_visitedLinks.count({row, column}) ? visitedLinkColor() : linkColor();
    const QColor color = m_colors.colorFor(column, text);
    return color.isValid() ? color : QColor(Qt::black);
}

const QFont& CReportModel::fontFor(int column) const {
    return m_columns[static_cast<std::size_t>(column)].kind == ReportColumnKind::Link ? m_linkFont
                                                                                      : m_font;
}

QVariant CReportModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_rowCount || index.column() >= reportColumnCount())
        return {};
    const int row = index.row();
    const int column = index.column();
    const ReportColumnKind kind = m_columns[static_cast<std::size_t>(column)].kind;
    switch (role) {
        case Qt::DisplayRole:
            return textAt(row, column);
        case Qt::ForegroundRole:
            return textColorAt(row, column, textAt(row, column));
        case Qt::BackgroundRole:
            return m_ticks.isTicked(row) ? tickedBackground() : QColor(Qt::white);
        case Qt::FontRole:
            return fontFor(column);
        case Qt::CheckStateRole:
            if (kind != ReportColumnKind::Check) return {};
            return m_ticks.isTicked(row) ? Qt::Checked : Qt::Unchecked;
        case TickedRole:
            return m_ticks.isTicked(row);
        case IconIndexRole:
            return m_ticks.iconIndex(row);
        case ColumnKindRole:
            return static_cast<int>(kind);
        case LinkVisitedRole:
            return m_visitedLinks.count({row, column}) != 0;
        case MoveRole:
            return moveAt(row, column);
        case Qt::ToolTipRole: {
            const QString tip = m_source ? m_source->cellToolTip(row, column) : QString();
            return tip.isEmpty() ? QVariant() : QVariant(tip);
        }
        default:
            return {};
    }
}

QVariant CReportModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= reportColumnCount()) return {};
    if (role == Qt::DisplayRole) return m_columns[static_cast<std::size_t>(section)].header;
    return {};
}

Qt::ItemFlags CReportModel::flags(const QModelIndex& index) const {
    // Ticks replace the view's own selection; nothing is editable.
    return index.isValid() ? Qt::ItemIsEnabled : Qt::NoItemFlags;
}

}  // namespace velquist::ui
