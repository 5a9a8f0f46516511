#include "ui/account_tree.h"

#include <QHeaderView>
#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QStyledItemDelegate>
#include <array>
#include <mutex>

#include "core/process_state.h"
#include "records/paid_records.h"
#include "ui/message_box.h"
#include "ui/qt_text.h"
#include "ui/ranking_list_page.h"
#include "ui/skin.h"

namespace velquist::ui {

namespace {

// Rows of the tree's fixed height.
class TreeItemDelegate final : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(CDialogLeft::kItemHeight);
        return size;
    }
};

// The account, plan and unit icons from their strip; pure red is transparent. Empty icons when
// the skin is missing: the tree still works.
std::array<QIcon, 3> LoadTreeIcons() {
    std::array<QIcon, 3> icons;
    QImage strip(Skin360Path(QStringLiteral("tree.bmp")));
    if (strip.isNull() || strip.width() < 48) return icons;
    strip = strip.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < strip.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(strip.scanLine(y));
        for (int x = 0; x < strip.width(); ++x)
            if ((line[x] & 0x00ffffff) == 0x00ff0000) line[x] = 0;
    }
    for (int i = 0; i < 3; ++i)
        icons[static_cast<std::size_t>(i)] =
            QIcon(QPixmap::fromImage(strip.copy(i * 16, 0, 16, 16)));
    return icons;
}

QTreeWidgetItem* MakeItem(const QString& text, int level, int id,
                          const std::array<QIcon, 3>& icons) {
    auto* item = new QTreeWidgetItem(QStringList{text});
    item->setIcon(0, icons[static_cast<std::size_t>(level)]);
    // Not user-checkable: the pane decides about every tick itself.
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setData(0, CDialogLeft::kLevelRole, level);
    item->setData(0, CDialogLeft::kIdRole, id);
    item->setCheckState(0, Qt::Unchecked);
    return item;
}

}  // namespace

CDialogLeft::CDialogLeft(std::string dbPath, QWidget* parent)
    : CYUiEntity(parent), m_dbPath(std::move(dbPath)) {
    setObjectName(QStringLiteral("treePane"));
    m_tree = new QTreeWidget(this);
    m_tree->setObjectName(QStringLiteral("accountTree"));
    m_tree->setHeaderHidden(true);
    m_tree->setColumnCount(1);
    m_tree->setFont(SkinFont(12));
    m_tree->setItemDelegate(new TreeItemDelegate(m_tree));
    m_tree->setUniformRowHeights(true);
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    m_tree->setFrameShape(QFrame::NoFrame);
    m_tree->setIconSize(QSize(16, 16));
    m_icons = LoadTreeIcons();
    // The same tick boxes as the keyword lists.
    m_tree->setStyleSheet(QStringLiteral("QTreeView::indicator { width: 13px; height: 13px; }"
                                         "QTreeView::indicator:checked { image: url(%1); }"
                                         "QTreeView::indicator:unchecked { image: url(%2); }")
                              .arg(SkinPath(QStringLiteral("checked.png")),
                                   SkinPath(QStringLiteral("unchecked.png"))));
    connect(m_tree, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item, int) { onItemClicked(item); });

    m_menu = new QMenu(this);
    m_menu->setObjectName(QStringLiteral("treeMenu"));
    m_menu->setFont(SkinFont(13));
    m_menu->addAction(QStringLiteral("删除"), this, &CDialogLeft::deleteTicked);
    connect(m_tree, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { m_menu->popup(m_tree->viewport()->mapToGlobal(at)); });

    setSwallowEnterEscape(true);
    setupSkin(Mode::Child);
    // The page opens with everything ticked, so the keyword pane first lists every keyword.
    m_ticks[{kRootLevel, 0}] = true;
    rebuild();
}

CDialogLeft::~CDialogLeft() {
    if (m_deleteThread.joinable()) m_deleteThread.join();
}

void CDialogLeft::layoutSkinControls() {
    if (m_tree) m_tree->setGeometry(rect().adjusted(1, 1, -1, -1));
}

QTreeWidgetItem* CDialogLeft::rootItem() const { return m_tree->topLevelItem(0); }

QTreeWidgetItem* CDialogLeft::planItem(int planId) const {
    QTreeWidgetItem* root = rootItem();
    for (int i = 0; root && i < root->childCount(); ++i)
        if (root->child(i)->data(0, kIdRole).toInt() == planId) return root->child(i);
    return nullptr;
}

QTreeWidgetItem* CDialogLeft::unitItem(int unitId) const {
    QTreeWidgetItem* root = rootItem();
    for (int i = 0; root && i < root->childCount(); ++i)
        for (int j = 0; j < root->child(i)->childCount(); ++j)
            if (root->child(i)->child(j)->data(0, kIdRole).toInt() == unitId)
                return root->child(i)->child(j);
    return nullptr;
}

bool CDialogLeft::isTicked(const QTreeWidgetItem* item) {
    return item && item->checkState(0) == Qt::Checked;
}

CDialogLeft::Key CDialogLeft::keyOf(const QTreeWidgetItem* item) {
    return {item->data(0, kLevelRole).toInt(), item->data(0, kIdRole).toInt()};
}

void CDialogLeft::setTicked(QTreeWidgetItem* item, bool ticked) {
    item->setCheckState(0, ticked ? Qt::Checked : Qt::Unchecked);
    m_ticks[keyOf(item)] = ticked;
}

void CDialogLeft::setTickedDown(QTreeWidgetItem* item, bool ticked) {
    setTicked(item, ticked);
    for (int i = 0; i < item->childCount(); ++i) setTickedDown(item->child(i), ticked);
}

void CDialogLeft::updateAncestors(QTreeWidgetItem* item) {
    for (QTreeWidgetItem* parent = item ? item->parent() : nullptr; parent;
         parent = parent->parent()) {
        bool all = true;
        for (int i = 0; i < parent->childCount() && all; ++i) all = isTicked(parent->child(i));
        setTicked(parent, all);
    }
}

void CDialogLeft::rebuild() {
    const auto plans = loadTree(m_dbPath, Notifier());
    if (!plans) return;  // the reason was shown; the tree stays as it was
    m_tree->clear();
    const auto tickOf = [this](Key key, bool inherited) {
        const auto found = m_ticks.find(key);
        return found == m_ticks.end() ? inherited : found->second;
    };
    QTreeWidgetItem* root = MakeItem(Q(kTreeRootText), kRootLevel, 0, m_icons);
    m_tree->addTopLevelItem(root);
    const bool rootTicked = tickOf({kRootLevel, 0}, true);
    setTicked(root, rootTicked);
    for (const TreePlan& plan : *plans) {
        QTreeWidgetItem* planNode = MakeItem(Q(plan.plan), kPlanLevel, plan.planId, m_icons);
        root->addChild(planNode);
        const bool planTicked = tickOf({kPlanLevel, plan.planId}, rootTicked);
        setTicked(planNode, planTicked);
        for (const TreeUnit& unit : plan.units) {
            QTreeWidgetItem* unitNode = MakeItem(Q(unit.unit), kUnitLevel, unit.unitId, m_icons);
            planNode->addChild(unitNode);
            setTicked(unitNode, tickOf({kUnitLevel, unit.unitId}, planTicked));
        }
        if (planNode->childCount() > 0) updateAncestors(planNode->child(0));
    }
    if (root->childCount() > 0) updateAncestors(root->child(0));
    m_tree->expandAll();
}

void CDialogLeft::onItemClicked(QTreeWidgetItem* item) {
    if (!item) return;
    m_tree->setCurrentItem(item);
    // Keywords added since the last tick are listed until the ticks change again.
    Process().firstNewKeywordId = -1;
    if (m_busy && m_busy()) {
        Notifier().showMessage(kPageBusy);
        return;
    }
    setTickedDown(item, !isTicked(item));
    m_changed = keyOf(item);
    // Parents and the keyword list follow once the click has been handled.
    QMetaObject::invokeMethod(this, &CDialogLeft::onTicksChanged, Qt::QueuedConnection);
}

void CDialogLeft::onTicksChanged() {
    QTreeWidgetItem* changed = nullptr;
    if (m_changed.first == kPlanLevel)
        changed = planItem(m_changed.second);
    else if (m_changed.first == kUnitLevel)
        changed = unitItem(m_changed.second);
    updateAncestors(changed);
    emit filterChanged();
}

TreeFilter CDialogLeft::filter() const {
    TreeFilter chosen;
    QTreeWidgetItem* root = rootItem();
    if (!root) return chosen;
    const bool all = isTicked(root);
    for (int i = 0; i < root->childCount(); ++i) {
        const QTreeWidgetItem* plan = root->child(i);
        if (all || isTicked(plan)) {
            chosen.planIds.push_back(plan->data(0, kIdRole).toInt());
            continue;
        }
        for (int j = 0; j < plan->childCount(); ++j)
            if (isTicked(plan->child(j)))
                chosen.unitIds.push_back(plan->child(j)->data(0, kIdRole).toInt());
    }
    return chosen;
}

void CDialogLeft::deleteTicked() {
    if (m_busy && m_busy()) {
        Notifier().showMessage(kPageBusy);
        return;
    }
    if (deleting()) return;
    // A ticked plan goes whole; units count only where their plan stays: what the list shows.
    const TreeFilter chosen = filter();
    const std::vector<int>& plans = chosen.planIds;
    const std::vector<int>& units = chosen.unitIds;
    if (plans.empty() && units.empty()) {
        Notifier().showMessage(kNoPlanOrUnitTicked);
        return;
    }
    const char* question = units.empty()   ? kConfirmDeletePlans
                           : plans.empty() ? kConfirmDeleteUnits
                                           : kConfirmDeletePlansAndUnits;
    if (!Notifier().askYesNo(question, kDefaultCaption)) return;
    m_deleteThread = std::thread([this, db = m_dbPath, plans, units] {
        CollectingNotifier notes;
        bool ok = true;
        for (int plan : plans) ok = ok && deletePlan(db, plan, notes);
        for (int unit : units) ok = ok && deleteUnit(db, unit, notes);
        QMetaObject::invokeMethod(
            this, [this, messages = notes.take()]() mutable { onDeleteDone(std::move(messages)); },
            Qt::QueuedConnection);
    });
}

void CDialogLeft::onDeleteDone(std::vector<std::string> messages) {
    if (m_deleteThread.joinable()) m_deleteThread.join();
    for (const std::string& message : messages) Notifier().showMessage(message);
    rebuild();
    emit treeChanged();
    emit filterChanged();
}

}  // namespace velquist::ui
