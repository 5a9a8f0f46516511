#pragma once

#include <QIcon>
#include <QTreeWidget>
#include <array>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ui/yui_entity.h"

class QMenu;

namespace velquist::ui {

inline constexpr const char* kTreeRootText = "账户树";
inline constexpr const char* kNoPlanOrUnitTicked = "未选择计划和单元!";
inline constexpr const char* kConfirmDeletePlans = "确认删除当前勾选的计划吗？";
inline constexpr const char* kConfirmDeleteUnits = "确认删除当前勾选的单元吗？";
inline constexpr const char* kConfirmDeletePlansAndUnits = "确认删除当前勾选的计划和单元吗？";

// The plans and units whose keywords the paid list shows. Both empty: nothing is ticked.
struct TreeFilter {
    std::vector<int> planIds;
    std::vector<int> unitIds;
};

// The left pane of the paid-ranking page: the account tree (root "账户树", its plans, their
// units) with a tick box per item. A tick goes down to every descendant, and a parent is ticked
// exactly when all its children are. Ticks do not change while the paid query runs. The tree and
// its ticks live on the GUI thread; deleting plans and units runs on a thread of its own.
class CDialogLeft : public CYUiEntity {
    Q_OBJECT

  public:
    enum Level { kRootLevel = 0, kPlanLevel, kUnitLevel };
    static constexpr int kLevelRole = Qt::UserRole + 1;
    static constexpr int kIdRole = Qt::UserRole + 2;
    static constexpr int kItemHeight = 18;

    explicit CDialogLeft(std::string dbPath, QWidget* parent = nullptr);
    ~CDialogLeft() override;

    // True while the paid query runs: ticks and deletes are refused then.
    void setBusyProbe(std::function<bool()> busy) { m_busy = std::move(busy); }

    QTreeWidget* tree() const { return m_tree; }
    QMenu* treeMenu() const { return m_menu; }
    QTreeWidgetItem* rootItem() const;
    QTreeWidgetItem* planItem(int planId) const;
    QTreeWidgetItem* unitItem(int unitId) const;
    static bool isTicked(const QTreeWidgetItem* item);
    // Every plan when the root is ticked; otherwise the ticked plans and the ticked units of
    // plans that are not ticked.
    TreeFilter filter() const;
    bool deleting() const { return m_deleteThread.joinable(); }

  public slots:
    // Reads the tree again; items keep their ticks, new ones take their parent's.
    void rebuild();
    // A click on an item's box or text toggles it (and everything under it).
    void onItemClicked(QTreeWidgetItem* item);
    // "删除": deletes the ticked plans and units with their keywords.
    void deleteTicked();

  signals:
    // The ticks changed; the keyword pane lists what filter() now says.
    void filterChanged();
    // Plans or units were deleted and the tree read again.
    void treeChanged();

  protected:
    void layoutSkinControls() override;

  private:
    using Key = std::pair<int, int>;  // level, id: plan and unit ids may be equal

    static Key keyOf(const QTreeWidgetItem* item);
    void setTicked(QTreeWidgetItem* item, bool ticked);
    void setTickedDown(QTreeWidgetItem* item, bool ticked);
    // Each parent above `item` becomes ticked exactly when all its children are.
    void updateAncestors(QTreeWidgetItem* item);
    void onTicksChanged();
    void onDeleteDone(std::vector<std::string> messages);

    std::string m_dbPath;
    std::function<bool()> m_busy;
    QTreeWidget* m_tree = nullptr;
    QMenu* m_menu = nullptr;
    std::array<QIcon, 3> m_icons;  // account, plan, unit
    std::map<Key, bool> m_ticks;   // the last tick of every item, across rebuilds
    Key m_changed{kRootLevel, 0};
    std::thread m_deleteThread;
};

}  // namespace velquist::ui
