#pragma once

#include <QElapsedTimer>
#include <QPixmap>
#include <QTimer>
#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/host_config.h"
#include "core/paths.h"
#include "ui/yui_entity.h"

class QMenu;

namespace velquist::ui {

class CYButton;
class CDialogMessage;
class WindowMailbox;
class CVelquistDlg;

enum class PageTab { Paid = 0, Natural = 1, Settings = 2 };

inline constexpr const char* kQueryBusy = "正在查排名，请稍后再试。";
inline constexpr const char* kExitQuestion = "关闭Zanquil查排名软件将无法查询排名，确认退出？";

// A page with query runs of its own. While its run goes (a stop may be pending) a query counts
// as busy, even in the moment between the run's end and the engine's finished flag.
class QueryRunPage {
  public:
    virtual ~QueryRunPage() = default;
    virtual bool queryRunActive() const = 0;
};

// What other parts of the program plug into the main window. Every member may stay empty.
struct MainWindowHooks {
    // The login dialog: the user name when the user logged in, nothing when they cancelled.
    // Without it nobody is asked and the window works as it is.
    std::function<std::optional<std::string>(QWidget* parent)> login;
    // The start-up usage report, run on a thread of its own a second after the window opens.
    std::function<void()> startupReport;
    // The exit usage report; calls `done` (from any thread) when it has been sent.
    std::function<void(std::function<void()> done)> exitReport;
    // "意见反馈": the feedback dialog.
    std::function<void(QWidget* parent)> feedback;
    // Starts the user-agent discovery; replies come through the mailbox as message 1138.
    std::function<void(const std::string& runId, std::shared_ptr<WindowMailbox> mailbox)>
        startUserAgentDiscovery;
    // Makes the page of a tab; CreateDefaultPage when empty.
    std::function<QWidget*(PageTab tab, CVelquistDlg& window)> createPage;
};

struct MainWindowSettings {
    AppPaths paths;
    HostConfig hosts;
    // An exit waits this long at most for a running query and the exit report.
    std::chrono::milliseconds exitWaitLimit{30000};
    std::chrono::milliseconds exitPollInterval{10};
    std::chrono::milliseconds bannerInterval{5000};
    std::chrono::milliseconds loginDelay{100};
    std::chrono::milliseconds startupReportDelay{1000};
    // The window opens maximised; pictures of the restored window open it at its own size.
    bool openMaximised = true;
};

// The program's one top-level window: a frameless, resizable skinned window with a title area,
// a rotating banner, three tab buttons over three pages, window buttons and a menu, and a
// status bar. It runs the opening sequence (login, background tasks) and the confirmed exit
// that stops a running query. GUI thread only.
class CVelquistDlg : public CYUiEntity {
    Q_OBJECT

  public:
    // Button ids as the commands name them.
    enum ButtonId {
        kTabPaid = 1000,
        kTabNatural = 1001,
        kTabSettings = 1002,
        kMenuButton = 1003,
        kMinimise = 1004,
        kMaximise = 1005,
        kClose = 1006,
        kLogo = 1007,
    };
    enum MenuId {
        kMenuFeedback = 32774,
        kMenuWebsite = 32775,
        kMenuAbout = 32785,
        kMenuQuit = 32776
    };

    // Loads the site list, clears the stored results of both kinds (a rank shown is always one
    // found since this start), and makes the pages and the hidden message box.
    explicit CVelquistDlg(MainWindowSettings settings, MainWindowHooks hooks = {},
                          QWidget* parent = nullptr);
    ~CVelquistDlg() override;

    // The opening sequence: skin, caption, maximised, run id, user-agent discovery, the
    // settings page, and the timers of the login and the start-up report.
    void openWindow();
    // openWindow() and then the window's own loop until the exit has finished.
    int run();

    // Replaces the page of a tab; `startDisabled` tells whether the page's start button is
    // disabled (a stop is pending), which counts as a busy query. Without it a QueryRunPage is
    // asked whether its run goes.
    void setPage(PageTab tab, QWidget* page, std::function<bool()> startDisabled = {});
    QWidget* page(PageTab tab) const { return m_pages[index(tab)].widget; }
    PageTab currentTab() const { return m_current; }
    void selectPage(PageTab tab);
    // A tab button was pressed: the settings tab refuses while a query is busy.
    void onTabClicked(PageTab tab);
    bool queryBusy() const;

    CYButton* button(int id) const;
    QMenu* popupMenu() const { return m_menu; }
    QPoint popupMenuPosition() const;
    CDialogMessage* messageDialog() const { return m_message; }
    const std::string& runId() const { return m_runId; }
    int bannerIndex() const { return m_bannerIndex; }
    QRect bannerRect() const { return m_bannerRect; }
    bool loggedIn() const { return m_loggedIn; }
    bool exiting() const { return m_exiting; }
    const MainWindowSettings& settings() const { return m_settings; }

    // Close button, "关闭程序", the window manager's close: ask, then exit or carry on.
    void requestExit();
    // Message 1138 from the user-agent discovery.
    void onUserAgentMessage(int wParam, const std::string& userAgent);
    // A query run of a page has ended: the message panel takes "查询完毕" and is hidden.
    void onQueryRunEnded();
    // Opens the vendor's web site in the default browser.
    void openWebsite();
    void showAbout();

    // Lays the pages out in a client rectangle of `size`.
    static QRect PageGeometry(PageTab tab, const QSize& size);

  signals:
    // The exit has finished waiting; run() returns.
    void exitFinished();

  public slots:
    void reject() override;

  protected:
    void loadSkinImages() override;
    void layoutSkinControls() override;
    void drawExtras(QPainter& painter) override;
    void freeSkinImages() override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    struct PageSlot {
        QWidget* widget = nullptr;
        std::function<bool()> startDisabled;
    };
    static int index(PageTab tab) { return static_cast<int>(tab); }

    void createButtons();
    void createMenu();
    void runLogin();
    bool confirmExit();
    void beginExit();
    void pollExit();
    void updateMaximiseImage();
    void layoutPages();

    MainWindowSettings m_settings;
    MainWindowHooks m_hooks;
    std::array<PageSlot, 3> m_pages;
    PageTab m_current = PageTab::Settings;
    std::array<CYButton*, 3> m_tabs{};
    CYButton* m_close = nullptr;
    CYButton* m_maximise = nullptr;
    CYButton* m_minimise = nullptr;
    CYButton* m_menuButton = nullptr;
    CYButton* m_logo = nullptr;
    QMenu* m_menu = nullptr;
    CDialogMessage* m_message = nullptr;

    std::array<QPixmap, 3> m_banners;
    QPixmap m_topBackground;
    QPixmap m_topLogo;
    QPixmap m_corner;
    QPixmap m_statusBottom;
    QPixmap m_statusRight;
    int m_bannerIndex = 0;
    QRect m_bannerRect;
    QTimer m_bannerTimer;

    std::string m_runId;
    std::shared_ptr<WindowMailbox> m_mailbox;
    bool m_opened = false;
    bool m_loggedIn = false;
    bool m_inLogin = false;
    bool m_exiting = false;
    std::shared_ptr<std::atomic<bool>> m_exitReportDone;
    QTimer m_exitTimer;
    QElapsedTimer m_exitClock;
};

// The page a tab shows until its real page is plugged in.
QWidget* CreateDefaultPage(PageTab tab, CVelquistDlg& window);

}  // namespace velquist::ui
