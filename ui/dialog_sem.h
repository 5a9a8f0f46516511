#pragma once

#include "ui/account_tree.h"
#include "ui/ranking_list_page.h"

namespace velquist::ui {

class CYSplitterWnd;

// The right pane of the paid-ranking page: the keywords of the ticked plans and units, with
// their unit, plan and one rank column per enabled promotion site, and the paid query runs.
class CDialogRight : public CRankingListPage {
    Q_OBJECT

  public:
    enum Column {
        kNumberColumn = 0,
        kKeywordColumn,
        kUnitColumn,
        kPlanColumn,
        kTimeColumn,
        kFirstSiteColumn
    };

    explicit CDialogRight(RankingPageContext context, QWidget* parent = nullptr);

    // Lists the keywords of these plans and units (and any added since the ticks last changed).
    void setTreeFilter(TreeFilter filter, bool reloadNow = true);
    const TreeFilter& treeFilter() const { return m_filter; }

  signals:
    // Keywords were added through the add dialog or an import; the tree may have new plans or
    // units.
    void keywordsAdded(int added);

  protected:
    RankRowLoader rowLoader() const override;
    void openAddDialog() override;
    // Imported keywords may bring new plans and units: the page reads the tree again first.
    void keywordsImported(int added) override { emit keywordsAdded(added); }
    // The tree's delete reloads the list when it ends, which would replace the rows of a run.
    bool surroundingWorkGoing() const override { return m_tree && m_tree->deleting(); }

  private:
    friend class CDialogSem;
    TreeFilter m_filter;
    const CDialogLeft* m_tree = nullptr;  // the tree beside the pane, set by the page
};

// "推广排名": the account tree on the left and the paid keyword pane on the right, with a
// splitter between them that comes back to its first width whenever the page is resized.
class CDialogSem : public CYUiEntity, public QueryRunPage {
    Q_OBJECT

  public:
    explicit CDialogSem(RankingPageContext context, QWidget* parent = nullptr);

    CDialogLeft* treePane() const { return m_left; }
    CDialogRight* keywordPane() const { return m_right; }
    CYSplitterWnd* splitter() const { return m_splitter; }
    bool queryRunActive() const override;

  public slots:
    // Keywords were added (add dialog or import): the tree is read again and the keyword pane
    // lists the new keywords ticked, next to the current ticks.
    void reloadAfterAdd(int added);

  protected:
    void layoutSkinControls() override;

  private:
    CYSplitterWnd* m_splitter = nullptr;
    CDialogLeft* m_left = nullptr;
    CDialogRight* m_right = nullptr;
};

}  // namespace velquist::ui
