#include "ui/velquist_dlg.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <thread>

#include "core/process_state.h"
#include "records/natural_records.h"
#include "services/user_agent.h"
#include "ui/dialog_about.h"
#include "ui/dialog_message.h"
#include "ui/message_box.h"
#include "ui/qt_text.h"
#include "ui/skin.h"
#include "ui/url_opener.h"
#include "ui/user_agent_dialog.h"
#include "ui/window_mailbox.h"
#include "ui/ybutton.h"

namespace velquist::ui {

namespace {

constexpr int kHeaderHeight = 97;
constexpr int kStatusHeight = 24;
constexpr int kBannerTop = 25;
constexpr int kBannerMinimumX = 292;
constexpr std::array<QPoint, 3> kTabPositions{QPoint(10, 31), QPoint(104, 31), QPoint(198, 31)};

}  // namespace

CVelquistDlg::CVelquistDlg(MainWindowSettings settings, MainWindowHooks hooks, QWidget* parent)
    : CYUiEntity(parent), m_settings(std::move(settings)), m_hooks(std::move(hooks)) {
    setObjectName(QStringLiteral("mainWindow"));
    setSwallowEnterEscape(true);
    // Loads the site list and its column count, and empties both result tables.
    clearResults(m_settings.paths.databasePath);

    createButtons();
    createMenu();
    for (PageTab tab : {PageTab::Paid, PageTab::Natural, PageTab::Settings}) {
        QWidget* made =
            m_hooks.createPage ? m_hooks.createPage(tab, *this) : CreateDefaultPage(tab, *this);
        setPage(tab, made);
    }
    m_message = new CDialogMessage(this);
    m_message->hide();

    m_mailbox = std::make_shared<WindowMailbox>(
        this, [this](int wParam, const std::string& text) { onUserAgentMessage(wParam, text); });
    m_exitReportDone = std::make_shared<std::atomic<bool>>(true);
    connect(&m_exitTimer, &QTimer::timeout, this, &CVelquistDlg::pollExit);
    connect(&m_bannerTimer, &QTimer::timeout, this, [this] {
        m_bannerIndex = (m_bannerIndex + 1) % int(m_banners.size());
        update();
    });
}

CVelquistDlg::~CVelquistDlg() { m_mailbox->close(); }

void CVelquistDlg::createButtons() {
    const auto make = [this](int id, const QString& image, const QString& text) {
        auto* button = new CYButton(this);
        button->setObjectName(QStringLiteral("button%1").arg(id));
        button->setText(text);
        button->setTip(text);
        button->setImage(image, 3);
        return button;
    };
    m_close = make(kClose, QStringLiteral("title_close.png"), QStringLiteral("关闭"));
    m_maximise = make(kMaximise, QStringLiteral("title_max.png"), QStringLiteral("最大化"));
    m_minimise = make(kMinimise, QStringLiteral("title_min.png"), QStringLiteral("最小化"));
    m_menuButton = make(kMenuButton, QStringLiteral("title_menu.png"), QStringLiteral("菜单"));
    m_logo = make(kLogo, QStringLiteral("_top_big_logo.png"), QStringLiteral("关于我们"));
    m_tabs[index(PageTab::Paid)] =
        make(kTabPaid, QStringLiteral("tab_sem.png"), QStringLiteral("推广排名"));
    m_tabs[index(PageTab::Natural)] =
        make(kTabNatural, QStringLiteral("tab_seo.png"), QStringLiteral("自然排名"));
    m_tabs[index(PageTab::Settings)] =
        make(kTabSettings, QStringLiteral("tab_setting.png"), QStringLiteral("软件配置"));

    connect(m_close, &CYButton::clicked, this, &CVelquistDlg::requestExit);
    connect(m_maximise, &CYButton::clicked, this, &CYUiEntity::toggleMaximised);
    connect(m_minimise, &CYButton::clicked, this, &QWidget::showMinimized);
    connect(m_menuButton, &CYButton::clicked, this, [this] { m_menu->popup(popupMenuPosition()); });
    connect(m_logo, &CYButton::clicked, this, &CVelquistDlg::showAbout);
    for (PageTab tab : {PageTab::Paid, PageTab::Natural, PageTab::Settings})
        connect(m_tabs[index(tab)], &CYButton::clicked, this, [this, tab] { onTabClicked(tab); });
}

void CVelquistDlg::createMenu() {
    m_menu = new QMenu(this);
    m_menu->setObjectName(QStringLiteral("mainMenu"));
    m_menu->setFont(SkinFont(13));
    QAction* feedback = m_menu->addAction(QStringLiteral("意见反馈"));
    feedback->setData(int(kMenuFeedback));
    // The feedback dialog comes with the service client; until then the item cannot be chosen.
    feedback->setEnabled(bool(m_hooks.feedback));
    connect(feedback, &QAction::triggered, this, [this] {
        if (m_hooks.feedback) m_hooks.feedback(this);
    });
    QAction* website = m_menu->addAction(QStringLiteral("官方网站"));
    website->setData(int(kMenuWebsite));
    connect(website, &QAction::triggered, this, &CVelquistDlg::openWebsite);
    QAction* about = m_menu->addAction(QStringLiteral("关于我们"));
    about->setData(int(kMenuAbout));
    connect(about, &QAction::triggered, this, &CVelquistDlg::showAbout);
    QAction* quit = m_menu->addAction(QStringLiteral("关闭程序"));
    quit->setData(int(kMenuQuit));
    // Queued, so the menu has closed before the question appears.
    connect(quit, &QAction::triggered, this, &CVelquistDlg::requestExit, Qt::QueuedConnection);
}

void CVelquistDlg::setPage(PageTab tab, QWidget* page, std::function<bool()> startDisabled) {
    PageSlot& slot = m_pages[index(tab)];
    if (slot.widget && slot.widget != page) slot.widget->deleteLater();
    slot.widget = page;
    if (!startDisabled)
        if (const auto* runPage = dynamic_cast<const QueryRunPage*>(page))
            startDisabled = [runPage] { return runPage->queryRunActive(); };
    slot.startDisabled = std::move(startDisabled);
    if (!page) return;
    page->setParent(this);
    page->setGeometry(PageGeometry(tab, size()));
    page->setVisible(m_opened && tab == m_current);
}

void CVelquistDlg::openWindow() {
    if (m_opened) return;
    m_opened = true;
    setupSkin(Mode::Resizable);
    setCaptionText(Q(kProgramTitle));
    setWindowIcon(QIcon(SkinPath(QStringLiteral("app_icon.png"))));
    if (m_settings.openMaximised)
        showMaximized();
    else
        show();

    m_runId = MakeStartupGuidText();
    if (m_hooks.startUserAgentDiscovery)
        m_hooks.startUserAgentDiscovery(m_runId, m_mailbox);
    else
        StartUserAgentDiscovery(m_settings.hosts, m_runId, m_mailbox);

    if (!queryBusy())
        selectPage(PageTab::Settings);
    else
        Notifier().showMessage(kQueryBusy);

    QTimer::singleShot(m_settings.loginDelay, this, &CVelquistDlg::runLogin);
    QTimer::singleShot(m_settings.startupReportDelay, this, [this] {
        if (m_hooks.startupReport && !m_exiting) std::thread(m_hooks.startupReport).detach();
    });
}

int CVelquistDlg::run() {
    QGuiApplication::setQuitOnLastWindowClosed(false);
    connect(this, &CVelquistDlg::exitFinished, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    openWindow();
    return QApplication::exec();
}

void CVelquistDlg::selectPage(PageTab tab) {
    m_current = tab;
    for (PageTab each : {PageTab::Paid, PageTab::Natural, PageTab::Settings}) {
        const bool chosen = each == tab;
        m_tabs[index(each)]->setState(chosen ? CYButton::Pressed : CYButton::Normal);
        if (QWidget* shown = m_pages[index(each)].widget) shown->setVisible(chosen);
    }
}

void CVelquistDlg::onTabClicked(PageTab tab) {
    // Settings change what a running query reads, so that tab waits for the query.
    if (tab == PageTab::Settings && queryBusy()) {
        Notifier().showMessage(kQueryBusy);
        return;
    }
    selectPage(tab);
}

bool CVelquistDlg::queryBusy() const {
    if (Process().queryRunning && !Process().queryFinished) return true;
    for (PageTab tab : {PageTab::Paid, PageTab::Natural}) {
        const PageSlot& slot = m_pages[index(tab)];
        if (slot.startDisabled && slot.startDisabled()) return true;
    }
    return false;
}

CYButton* CVelquistDlg::button(int id) const {
    switch (id) {
        case kTabPaid:
            return m_tabs[index(PageTab::Paid)];
        case kTabNatural:
            return m_tabs[index(PageTab::Natural)];
        case kTabSettings:
            return m_tabs[index(PageTab::Settings)];
        case kMenuButton:
            return m_menuButton;
        case kMinimise:
            return m_minimise;
        case kMaximise:
            return m_maximise;
        case kClose:
            return m_close;
        case kLogo:
            return m_logo;
        default:
            return nullptr;
    }
}

QPoint CVelquistDlg::popupMenuPosition() const {
    const QRect window = geometry();
    const int buttons =
        m_menuButton->width() + m_minimise->width() + m_maximise->width() + m_close->width();
    const bool maximised = isMaximized();
    const int x = window.x() + window.width() - buttons - (maximised ? 0 : 4) - 16;
    const int y = window.y() + m_menuButton->height() + (maximised ? 1 : 3);
    return {x, y};
}

QRect CVelquistDlg::PageGeometry(PageTab tab, const QSize& size) {
    const int width = size.width() - 2;
    if (tab == PageTab::Paid)
        return QRect(1, kHeaderHeight + 1, width, size.height() - kHeaderHeight - 26);
    return QRect(1, kHeaderHeight, width, size.height() - kStatusHeight - kHeaderHeight);
}

void CVelquistDlg::layoutPages() {
    for (PageTab tab : {PageTab::Paid, PageTab::Natural, PageTab::Settings})
        if (QWidget* shown = m_pages[index(tab)].widget)
            shown->setGeometry(PageGeometry(tab, size()));
}

void CVelquistDlg::requestExit() {
    if (m_exiting) return;
    if (confirmExit()) {
        beginExit();
        return;
    }
    // Nobody may work without logging in: saying No before the login brings the login back.
    if (!m_loggedIn && !m_inLogin) runLogin();
}

void CVelquistDlg::reject() { requestExit(); }

bool CVelquistDlg::confirmExit() { return Notifier().askYesNo(kExitQuestion, kDefaultCaption); }

void CVelquistDlg::runLogin() {
    if (!m_hooks.login || m_loggedIn || m_inLogin || m_exiting) return;
    m_inLogin = true;
    for (;;) {
        const std::optional<std::string> user = m_hooks.login(this);
        if (user) {
            m_loggedIn = true;
            setWindowTitle(QStringLiteral("%1-%2").arg(Q(*user), Q(kProgramTitle)));
            break;
        }
        if (confirmExit()) {
            beginExit();
            break;
        }
    }
    m_inLogin = false;
}

void CVelquistDlg::beginExit() {
    m_exiting = true;
    // A running query stops at its next check; the wait below gives it time to store.
    Process().queryRunning = false;
    hide();
    m_exitReportDone = std::make_shared<std::atomic<bool>>(!m_hooks.exitReport);
    if (m_hooks.exitReport) {
        auto done = m_exitReportDone;
        m_hooks.exitReport([done] { done->store(true); });
    }
    m_exitClock.start();
    m_exitTimer.start(m_settings.exitPollInterval);
    pollExit();
}

void CVelquistDlg::pollExit() {
    const bool settled = Process().queryFinished && m_exitReportDone->load();
    if (!settled && m_exitClock.elapsed() < m_settings.exitWaitLimit.count()) return;
    m_exitTimer.stop();
    m_mailbox->close();
    m_bannerTimer.stop();
    done(QDialog::Rejected);
    emit exitFinished();
}

void CVelquistDlg::onUserAgentMessage(int wParam, const std::string& userAgent) {
    if (!userAgent.empty()) Process().setUserAgent(userAgent);
    if (wParam == 0 || m_exiting) return;
    UserAgentDlg dialog(this);
    dialog.exec();
    if (Process().userAgent().empty()) Process().setUserAgent(kUserAgentLastResort);
}

void CVelquistDlg::onQueryRunEnded() {
    m_message->setText(QStringLiteral("查询完毕"));
    m_message->hide();
}

void CVelquistDlg::openWebsite() { OpenWebAddress(Q(kVendorWebsite)); }

void CVelquistDlg::showAbout() {
    CDialogAbout about(this);
    about.exec();
}

void CVelquistDlg::loadSkinImages() {
    m_banners = {LoadSkin(QStringLiteral("guanggao_baidu.png")),
                 LoadSkin(QStringLiteral("guanggao_360.png")),
                 LoadSkin(QStringLiteral("guanggao_sogou.png"))};
    m_topBackground = LoadSkin(QStringLiteral("_top_bg.png"));
    m_topLogo = LoadSkin(QStringLiteral("_top_bg_logo.png"));
    m_corner = LoadSkin(QStringLiteral("corner.png"));
    m_statusBottom = LoadSkin(QStringLiteral("status_bottom.png"));
    m_statusRight = LoadSkin(QStringLiteral("status_right.png"));
    m_bannerTimer.start(m_settings.bannerInterval);
}

void CVelquistDlg::freeSkinImages() {
    m_bannerTimer.stop();
    m_banners = {};
    m_topBackground = m_topLogo = m_corner = m_statusBottom = m_statusRight = QPixmap();
}

void CVelquistDlg::layoutSkinControls() {
    const bool maximised = isMaximized();
    const int y = maximised ? 1 : 3;
    int x = width() - 1 - (maximised ? 0 : 4);
    for (CYButton* each : {m_close, m_maximise, m_minimise, m_menuButton}) {
        x -= each->width();
        each->move(x, y);
    }
    m_logo->move(width() - m_logo->width() - 30, m_close->y() + m_close->height() + 15);
    for (PageTab tab : {PageTab::Paid, PageTab::Natural, PageTab::Settings})
        m_tabs[index(tab)]->move(kTabPositions[index(tab)]);

    const QSize banner = m_banners[1].size();
    const int x0 = std::max(kBannerMinimumX, width() - m_logo->width() - banner.width() - 30);
    m_bannerRect = QRect(QPoint(x0 - 40, kBannerTop), banner);
}

void CVelquistDlg::drawExtras(QPainter& painter) {
    const int w = width();
    const int h = height();
    if (!m_topBackground.isNull())
        painter.drawPixmap(QRect(1, 2, w - 2, m_topBackground.height()), m_topBackground);
    if (!m_topLogo.isNull()) painter.drawPixmap(15, 5, m_topLogo);
    const QPixmap& banner = m_banners[m_bannerIndex];
    if (!banner.isNull()) painter.drawPixmap(m_bannerRect.topLeft(), banner);
    if (!m_statusBottom.isNull())
        painter.drawPixmap(
            QRect(1, h - 1 - m_statusBottom.height(), w - 2, m_statusBottom.height()),
            m_statusBottom);
    if (!m_statusRight.isNull())
        painter.drawPixmap(w - 1 - m_statusRight.width(), h - 1 - m_statusRight.height(),
                           m_statusRight);
    if (!isMaximized()) drawCorners(painter, m_corner);

    painter.setFont(SkinFont(12));
    painter.setPen(Qt::black);
    painter.drawText(QRect(40, 6, std::max(0, w - 300), 18), Qt::AlignLeft | Qt::AlignTop,
                     Q(kProgramTitle));

    painter.setFont(SkinFont(13));
    painter.setPen(kStatusText);
    painter.drawText(QRect(5, h - 18, 300, 16), Qt::AlignLeft | Qt::AlignTop,
                     QStringLiteral("当前版本：%1").arg(Q(kVersionText)));
    painter.drawText(QRect(w - 150, h - 18, 140, 16), Qt::AlignLeft | Qt::AlignTop,
                     Q(kOwnershipNotice));
}

void CVelquistDlg::resizeEvent(QResizeEvent* event) {
    CYUiEntity::resizeEvent(event);
    layoutPages();
}

void CVelquistDlg::changeEvent(QEvent* event) {
    CYUiEntity::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        updateMaximiseImage();
        layoutSkinControls();
    }
}

void CVelquistDlg::updateMaximiseImage() {
    const bool maximised = isMaximized();
    m_maximise->setImage(
        maximised ? QStringLiteral("title_return.png") : QStringLiteral("title_max.png"), 3);
    const QString tip = maximised ? QStringLiteral("还原") : QStringLiteral("最大化");
    m_maximise->setText(tip);
    m_maximise->setTip(tip);
}

void CVelquistDlg::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && m_bannerRect.contains(event->position().toPoint()))
        openWebsite();
    CYUiEntity::mousePressEvent(event);
}

void CVelquistDlg::contextMenuEvent(QContextMenuEvent* event) {
    if (hitTest(event->globalPos()) != HitCode::Caption) return CYUiEntity::contextMenuEvent(event);
    QMenu system(this);
    system.addAction(QStringLiteral("还原"), this, &QWidget::showNormal)->setEnabled(isMaximized());
    system.addAction(QStringLiteral("最小化"), this, &QWidget::showMinimized);
    system.addAction(QStringLiteral("最大化"), this, &QWidget::showMaximized)
        ->setEnabled(!isMaximized());
    system.addSeparator();
    system.addAction(QStringLiteral("关闭"), this, &CVelquistDlg::requestExit,
                     Qt::QueuedConnection);
    system.addSeparator();
    system.addAction(QStringLiteral("关于 Velquist(&A)..."), this, [this] {
        CAboutDlg about(this);
        about.exec();
    });
    system.exec(event->globalPos());
}

}  // namespace velquist::ui
