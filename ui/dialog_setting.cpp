#include "ui/dialog_setting.h"

#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <algorithm>
#include <system_error>

#include "records/site_records.h"
#include "ui/dialog_modify.h"
#include "ui/message_box.h"
#include "ui/qt_text.h"
#include "ui/report_control.h"
#include "ui/skin.h"
#include "ui/ybutton.h"

namespace velquist::ui {

namespace {

constexpr int kMargin = 20;
constexpr int kHeadingHeight = 80;

std::optional<QString> AskWithModifyDialog(const QString& current, QWidget* parent) {
    CDialogModify dialog(current, parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.address();
}

}  // namespace

CDialogSetting::CDialogSetting(std::string dbPath, QWidget* parent)
    : CYUiEntity(parent), m_dbPath(std::move(dbPath)), m_modifyPrompt(AskWithModifyDialog) {
    setObjectName(QStringLiteral("settingPage"));

    m_addressLabel = new QLabel(QStringLiteral("网址："), this);
    m_addressLabel->setFont(SkinFont(13));
    m_addressLabel->setAutoFillBackground(true);
    QPalette labelPalette = m_addressLabel->palette();
    labelPalette.setColor(QPalette::Window, Qt::white);
    m_addressLabel->setPalette(labelPalette);

    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QStringLiteral("addressEdit"));
    m_edit->setFont(SkinFont(13));

    m_addButton = new CYButton(this);
    m_addButton->setObjectName(QStringLiteral("addButton"));
    m_addButton->setText(QStringLiteral("添加"));
    m_addButton->setImage(QStringLiteral("_botton_lan_60.png"), 4, true);
    m_addButton->setTextColors(Qt::white, Qt::white);
    connect(m_addButton, &CYButton::clicked, this, &CDialogSetting::onAdd);

    m_tip = new QLabel(this);
    m_tip->setFont(SkinFont(13));
    m_tip->setWordWrap(true);
    m_tip->setAttribute(Qt::WA_TranslucentBackground);
    m_tip->setStyleSheet(QStringLiteral("color: rgb(234,56,6); background: transparent;"));
    m_tip->setText(
        QStringLiteral("小贴士：您可以在编辑框内输入推广网址，点击“添加”按钮添加到列表中，"
                       "推广网址例如www.example.com。\n\n注:查排名时仅查询已勾选的网址。"));

    m_list = new CMyReportControl(this);
    m_list->setObjectName(QStringLiteral("siteList"));
    m_list->setRowSource(this);
    m_list->setEmptyText(QString());
    m_list->addReportColumn(QStringLiteral("序号"), 100, false, ReportColumnKind::Check);
    m_list->addReportColumn(QStringLiteral("推广网址"), 400, true);
    m_list->addReportColumn(QStringLiteral("网址状态"), 100, false);
    m_list->addReportColumn(QStringLiteral("启用网址"), 100, false, ReportColumnKind::Link);
    m_list->addReportColumn(QStringLiteral("修改网址"), 100, false, ReportColumnKind::Link);
    m_list->addReportColumn(QStringLiteral("删除网址"), 100, false, ReportColumnKind::Link);
    m_list->addColorRule(QStringLiteral("已停用"), QColor(255, 0, 0), true);
    m_list->addColorRule(QStringLiteral("已启用"), QColor(7, 179, 144), true);
    connect(m_list, &CMyReportControl::linkClicked, this, &CDialogSetting::onLinkClicked);
    connect(m_list, &CMyReportControl::cellDoubleClicked, this,
            &CDialogSetting::onCellDoubleClicked);
    connect(m_list, &CMyReportControl::sortRequested, this, &CDialogSetting::onSortRequested);
    connect(m_list, &CMyReportControl::headerCheckToggled, this,
            [this](bool checked) { checked ? m_list->tickAll() : m_list->untickAll(); });

    // Escape would otherwise reject the page and hide it.
    setSwallowEnterEscape(true);
    setupSkin(Mode::Child);
    ensureLoaded();
    rebuildList();
}

CDialogSetting::~CDialogSetting() {
    for (auto& [id, thread] : m_saveThreads)
        if (thread.joinable()) thread.join();
}

void CDialogSetting::loadSkinImages() { m_background = LoadSkin(QStringLiteral("peizhi_bg.png")); }

void CDialogSetting::freeSkinImages() { m_background = QPixmap(); }

void CDialogSetting::layoutSkinControls() {
    if (!m_list) return;
    const int row = kHeadingHeight + 12;
    m_addressLabel->setGeometry(kMargin, row, 48, 28);
    m_edit->setGeometry(kMargin + 52, row, 380, 28);
    const QSize button = m_addButton->sizeHint().isValid() && !m_addButton->sizeHint().isEmpty()
                             ? m_addButton->sizeHint()
                             : QSize(60, 26);
    m_addButton->setGeometry(kMargin + 52 + 380 + 10, row + (28 - button.height()) / 2,
                             button.width(), button.height());
    const int tipTop = row + 28 + 10;
    m_tip->setGeometry(kMargin, tipTop, std::max(width() - 2 * kMargin, 100), 64);
    const int listTop = tipTop + 64 + 8;
    m_list->setGeometry(kMargin, listTop, std::max(width() - 2 * kMargin, 100),
                        std::max(height() - listTop - kMargin, 60));
}

void CDialogSetting::drawExtras(QPainter& painter) {
    if (!m_background.isNull())
        painter.drawPixmap(QRect(1, 1, width() - 2, kHeadingHeight), m_background);
    painter.setPen(QColor(44, 62, 80));
    painter.setFont(SkinFont(16, true));
    painter.drawText(QRect(kMargin, 24, width() - 2 * kMargin, 30),
                     Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("管理推广网址"));
}

void CDialogSetting::showEvent(QShowEvent* event) {
    CYUiEntity::showEvent(event);
    rebuildList();
}

QString CDialogSetting::cellText(int row, int column) const {
    if (row < 0 || row >= static_cast<int>(m_rows.size())) return {};
    const PromotionSite& site = m_rows[static_cast<std::size_t>(row)];
    const bool enabled = site.selected != 0;
    switch (column) {
        case kNumberColumn:
            return QString::number(row + 1);
        case kAddressColumn:
            return Q(site.url);
        case kStateColumn:
            return enabled ? QStringLiteral("已启用") : QStringLiteral("已停用");
        case kToggleColumn:
            return enabled ? QStringLiteral("停用") : QStringLiteral("启用");
        case kModifyColumn:
            return QStringLiteral("修改");
        case kDeleteColumn:
            return QStringLiteral("删除");
        default:
            return {};
    }
}

bool CDialogSetting::ensureLoaded() {
    if (m_loaded) return true;
    auto sites = LoadSitesForSettings(m_dbPath);
    if (!sites) return false;
    std::lock_guard lock(m_mapMutex);
    m_siteMap.clear();
    for (const PromotionSite& site : *sites) m_siteMap.emplace(site.url, site.selected);
    m_loaded = true;
    return true;
}

std::vector<PromotionSite> CDialogSetting::siteSnapshot() const {
    std::lock_guard lock(m_mapMutex);
    std::vector<PromotionSite> sites;
    sites.reserve(m_siteMap.size());
    for (const auto& [url, selected] : m_siteMap) sites.push_back({url, selected});
    return sites;
}

void CDialogSetting::rebuildList() {
    m_rows = siteSnapshot();
    if (m_sortDirection == MyReportHeader::kOtherDirection)
        std::reverse(m_rows.begin(), m_rows.end());
    m_list->setRows(static_cast<int>(m_rows.size()));
}

void CDialogSetting::onAdd() {
    if (!ensureLoaded()) {
        Notifier().showMessage(kSiteSaveFailed);
        return;
    }
    SiteCheckResult check = CheckNewSite(U8(m_edit->text()), siteSnapshot());
    if (!check.accepted) {
        Notifier().showMessage(check.message);
        return;
    }
    {
        std::lock_guard lock(m_mapMutex);
        m_siteMap.emplace(std::move(check.url), 1);
    }
    rebuildList();
    m_edit->clear();
    // "添加成功！" waits for the save, so a site that could not be stored is never announced.
    startSave({.reloadRows = true, .announceAdded = true});
}

void CDialogSetting::onLinkClicked(int row, int column) {
    switch (column) {
        case kToggleColumn:
            toggleSite(row);
            break;
        case kModifyColumn:
            modifySite(row);
            break;
        case kDeleteColumn:
            deleteSite(row);
            break;
        default:
            break;
    }
}

void CDialogSetting::onCellDoubleClicked(int row, int column) {
    if (column == kAddressColumn) modifySite(row);
}

void CDialogSetting::onSortRequested(int column, int direction) {
    if (column != kAddressColumn) return;
    m_sortDirection = direction;
    rebuildList();
}

void CDialogSetting::toggleSite(int row) {
    if (row < 0 || row >= static_cast<int>(m_rows.size()) || !ensureLoaded()) return;
    {
        std::lock_guard lock(m_mapMutex);
        const auto found = m_siteMap.find(m_rows[static_cast<std::size_t>(row)].url);
        if (found == m_siteMap.end()) return;
        found->second = found->second != 0 ? 0 : 1;
    }
    rebuildList();
    startSave({.reloadRows = false, .announceAdded = false});
}

void CDialogSetting::modifySite(int row) {
    if (row < 0 || row >= static_cast<int>(m_rows.size()) || !ensureLoaded()) return;
    const std::string current = m_rows[static_cast<std::size_t>(row)].url;
    const std::optional<QString> typed = m_modifyPrompt(Q(current), window());
    if (!typed) return;
    std::vector<PromotionSite> others = siteSnapshot();
    std::erase_if(others, [&current](const PromotionSite& site) { return site.url == current; });
    // The dialog has cleaned and checked the address; a second site of the same address would
    // merge two entries of the map into one, so that is refused here.
    SiteCheckResult check = CheckNewSite(U8(*typed), others);
    if (!check.accepted) {
        Notifier().showMessage(check.message);
        return;
    }
    if (check.url == current) return;
    {
        std::lock_guard lock(m_mapMutex);
        const auto found = m_siteMap.find(current);
        if (found == m_siteMap.end()) return;
        const int selected = found->second;
        m_siteMap.erase(found);
        m_siteMap.emplace(std::move(check.url), selected);
    }
    rebuildList();
    startSave({.reloadRows = true, .announceAdded = false});
}

void CDialogSetting::deleteSite(int row) {
    if (row < 0 || row >= static_cast<int>(m_rows.size()) || !ensureLoaded()) return;
    const std::string url = m_rows[static_cast<std::size_t>(row)].url;
    if (!Notifier().askYesNo(kConfirmDeleteSite, kDefaultCaption)) return;
    {
        std::lock_guard lock(m_mapMutex);
        if (m_siteMap.erase(url) == 0) return;
    }
    rebuildList();
    startSave({.reloadRows = true, .announceAdded = false});
}

void CDialogSetting::startSave(SaveRequest request) {
    const int id = ++m_nextSaveId;
    auto save = [this, id, request] {
        bool saved = false;
        try {
            std::lock_guard saveLock(m_saveMutex);
            saved = SaveSites(m_dbPath, siteSnapshot());
        } catch (...) {
            saved = false;
        }
        // Runs on the save thread: the result goes to the GUI thread.
        QMetaObject::invokeMethod(
            this, [this, id, request, saved] { onSaveDone(id, request, saved); },
            Qt::QueuedConnection);
    };
    try {
        m_saveThreads.emplace(id, std::thread(save));
    } catch (const std::system_error&) {
        onSaveDone(id, request, false);
    }
}

void CDialogSetting::onSaveDone(int id, SaveRequest request, bool saved) {
    const auto found = m_saveThreads.find(id);
    if (found != m_saveThreads.end()) {
        if (found->second.joinable()) found->second.join();
        m_saveThreads.erase(found);
    }
    if (!saved) {
        Notifier().showMessage(kSiteSaveFailed);
        emit saveFinished(false);
        return;
    }
    Process().siteColumnCount = ReloadSiteList(m_dbPath);
    emit sitesChanged(request.reloadRows);
    if (request.announceAdded) Notifier().showMessage(kSiteAdded, "");
    emit saveFinished(true);
}

}  // namespace velquist::ui
