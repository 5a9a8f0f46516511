#pragma once

#include "ui/ranking_list_page.h"

class QComboBox;
class QLabel;

namespace velquist::ui {

inline constexpr const char* kPageCountTip =
    "小贴士：自然排名是从第一页查询至最大翻页数后返回的整体结果";

// "自然排名": the natural-ranking keywords with one rank column per enabled promotion site,
// their query runs, and the number of result pages a run reads. GUI thread only.
class CDialogSeo : public CRankingListPage {
    Q_OBJECT

  public:
    enum Column { kNumberColumn = 0, kKeywordColumn, kTimeColumn, kFirstSiteColumn };

    // Reads the page count from the settings file and loads the keywords.
    explicit CDialogSeo(RankingPageContext context, QWidget* parent = nullptr);

    QComboBox* pageCountBox() const { return m_pageCount; }

  protected:
    RankRowLoader rowLoader() const override;
    void openAddDialog() override;
    void setBusyLook(bool busy) override;
    void layoutSkinControls() override;

  private:
    void onPageCountChosen(int index);

    QLabel* m_pageCountLabel = nullptr;
    QComboBox* m_pageCount = nullptr;
    QLabel* m_tip = nullptr;
};

}  // namespace velquist::ui
