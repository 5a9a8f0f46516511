#pragma once

#include <QPixmap>
#include <QString>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/process_state.h"
#include "ui/report_model.h"
#include "ui/yui_entity.h"

class QLabel;
class QLineEdit;

namespace velquist::ui {

class CMyReportControl;
class CYButton;

inline constexpr const char* kConfirmDeleteSite = "确认删除该网址吗？";

// "软件配置": the page that manages the promotion sites. It keeps its own working copy of the
// sites (by address), shows it in a report list, and writes the whole copy back on a save
// thread after every change. The keyword pages follow through sitesChanged(). The page lives on
// the GUI thread; only the save threads read the site map, under its lock.
class CDialogSetting : public CYUiEntity, private CReportRowSource {
    Q_OBJECT

  public:
    enum Column {
        kNumberColumn = 0,
        kAddressColumn,
        kStateColumn,
        kToggleColumn,
        kModifyColumn,
        kDeleteColumn,
    };

    // Asks for a site's new address: the cleaned address, or nothing when cancelled.
    using ModifyPrompt =
        std::function<std::optional<QString>(const QString& current, QWidget* parent)>;

    // Loads the sites of the database at `dbPath` in the order they were entered.
    explicit CDialogSetting(std::string dbPath, QWidget* parent = nullptr);
    // Waits for the saves still running.
    ~CDialogSetting() override;

    // Replaces the "修改网址" dialog, e.g. for a caller with its own way of asking.
    void setModifyPrompt(ModifyPrompt prompt) { m_modifyPrompt = std::move(prompt); }

    CMyReportControl* siteList() const { return m_list; }
    QLineEdit* addressEdit() const { return m_edit; }
    CYButton* addButton() const { return m_addButton; }
    // The sites as the list shows them, top to bottom.
    const std::vector<PromotionSite>& listedSites() const { return m_rows; }
    int runningSaves() const { return static_cast<int>(m_saveThreads.size()); }

  public slots:
    // "添加": checks the typed address and adds it enabled.
    void onAdd();

  signals:
    // A save stored the sites and the process-wide site list was reloaded from the store; the
    // keyword pages show the columns of the enabled sites. With `reloadRows` the addresses
    // changed, so their rows are loaded again.
    void sitesChanged(bool reloadRows);
    // Every save ends here, saved or not (a failure has shown "网址设置失败，请重试！").
    void saveFinished(bool saved);

  protected:
    void loadSkinImages() override;
    void layoutSkinControls() override;
    void drawExtras(QPainter& painter) override;
    void freeSkinImages() override;
    void showEvent(QShowEvent* event) override;

  private:
    struct SaveRequest {
        bool reloadRows = false;
        bool announceAdded = false;
    };

    QString cellText(int row, int column) const override;

    void onLinkClicked(int row, int column);
    void onCellDoubleClicked(int row, int column);
    void onSortRequested(int column, int direction);
    void toggleSite(int row);
    void modifySite(int row);
    void deleteSite(int row);

    // A failed first load is tried again before any change, so an empty list read from an
    // unavailable store never overwrites the stored sites.
    bool ensureLoaded();
    std::vector<PromotionSite> siteSnapshot() const;
    void rebuildList();
    void startSave(SaveRequest request);
    void onSaveDone(int id, SaveRequest request, bool saved);

    std::string m_dbPath;
    ModifyPrompt m_modifyPrompt;

    mutable std::mutex m_mapMutex;
    std::map<std::string, int> m_siteMap;  // address -> enabled; guarded by m_mapMutex
    bool m_loaded = false;
    std::vector<PromotionSite> m_rows;  // the map as listed; GUI thread only
    int m_sortDirection = 2;

    // Held by a save from reading the map until its write ends, so the last save to finish
    // always stored the newest map.
    std::mutex m_saveMutex;
    std::map<int, std::thread> m_saveThreads;  // GUI thread only
    int m_nextSaveId = 0;

    QLabel* m_addressLabel = nullptr;
    QLineEdit* m_edit = nullptr;
    CYButton* m_addButton = nullptr;
    QLabel* m_tip = nullptr;
    CMyReportControl* m_list = nullptr;
    QPixmap m_background;
};

}  // namespace velquist::ui
