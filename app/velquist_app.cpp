#include "app/velquist_app.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <functional>

#include "core/database.h"
#include "core/host_config.h"
#include "core/schema.h"
#include "engine/http_client.h"
#include "engine/query_run.h"
#include "services/update_check.h"
#include "services/update_package.h"
#include "ui/dialog_about.h"
#include "ui/dialog_add_keywords.h"
#include "ui/dialog_example.h"
#include "ui/dialog_export_select.h"
#include "ui/dialog_feedback.h"
#include "ui/dialog_login.h"
#include "ui/dialog_message.h"
#include "ui/dialog_modify.h"
#include "ui/dialog_rank_history.h"
#include "ui/dialog_sem.h"
#include "ui/dialog_seo.h"
#include "ui/dialog_update_download.h"
#include "ui/message_box.h"
#include "ui/qt_text.h"
#include "ui/report_control.h"
#include "ui/service_hooks.h"
#include "ui/skin.h"
#include "ui/user_agent_dialog.h"
#include "ui/ybutton.h"

namespace velquist::app {

QString UsageText() {
    return QStringLiteral(
        "usage: Morvane [--data-dir DIR] [--screenshot-dir DIR] | --version\n"
        "\n"
        "Starts the Velquist window in the current folder (its skin folders are looked up there).\n"
        "  --data-dir DIR        data folder (default: documents folder + /Velquist)\n"
        "  --screenshot-dir DIR  save a PNG of every page and dialog into DIR, then quit\n"
        "  --version             print the program's version and quit\n");
}

std::optional<StartupOptions> ParseArguments(const QStringList& arguments, QString* error) {
    StartupOptions options;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const auto value = [&]() -> std::optional<QString> {
            if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty()) return std::nullopt;
            return arguments[++i];
        };
        if (argument == QLatin1String("--data-dir")) {
            const auto folder = value();
            if (!folder) {
                *error = QStringLiteral("--data-dir needs a folder");
                return std::nullopt;
            }
            options.dataFolder = ui::U8(*folder);
        } else if (argument == QLatin1String("--screenshot-dir")) {
            const auto folder = value();
            if (!folder) {
                *error = QStringLiteral("--screenshot-dir needs a folder");
                return std::nullopt;
            }
            options.screenshotFolder = *folder;
        } else {
            *error = QStringLiteral("unknown argument '%1'").arg(argument);
            return std::nullopt;
        }
    }
    return options;
}

PreparedStart PrepareStart(const StartupOptions& options, UserNotifier& notifier) {
    PreparedStart start;
    start.paths = ResolvePaths(options.dataFolder);
    ui::SetProgramFolder(ui::Q(start.paths.programFolder));
    start.databaseReady = PrepareDatabase(start.paths.dataFolder, start.paths.databaseFolder,
                                          start.paths.databasePath, notifier);
    return start;
}

namespace {

void StartUpdater(const AppPaths& paths) {
    // Not waited for; it waits for this program to end before it installs anything. It is told
    // the data folder, which may not be the default one.
    QProcess::startDetached(
        ui::Q(paths.programFolder + "/" + kUpdaterProgramName),
        {QStringLiteral("--data-dir"), QDir(ui::Q(paths.dataFolder)).absolutePath()},
        ui::Q(paths.programFolder));
}

// Start-up's part of an update: the updater's own leftover goes, a newer version is fetched
// (unless a package already waits), and the updater is started for "del.txt" and for
// "update.txt". True when the window is not to open, because the updater is about to install.
bool HandOverToUpdater(const ui::MainWindowSettings& settings) {
    RemoveUpdaterLeftover(settings.paths.programFolder);
    if (PlanUpdaterHandOff(settings.paths.dataFolder).openWindow) {
        const UpdateCheckResult check = CheckForUpdate(settings.hosts, kVersionText);
        if (check.outcome == UpdateCheckResult::Outcome::Available) {
            ui::CDialogUpdateDownload download(check.offer, settings.paths);
            download.exec();
        }
    }
    const UpdaterHandOff plan = PlanUpdaterHandOff(settings.paths.dataFolder);
    for (int i = 0; i < plan.updaterStarts; ++i) StartUpdater(settings.paths);
    return !plan.openWindow;
}

}  // namespace

int RunVelquist(const StartupOptions& options, ui::MainWindowHooks hooks) {
    CHttpClient::GlobalInit();
    CHttpClient::InstallTlsLocks();
    int exitCode = 1;
    const PreparedStart start = PrepareStart(options, ui::Notifier());
    // Held for the whole run: every operation opens its own connection, this one only proves
    // that the database stayed reachable from start to end.
    DbConnection startupConnection;
    if (start.databaseReady && startupConnection.open(start.paths.databasePath)) {
        ui::MainWindowSettings settings;
        settings.paths = start.paths;
        settings.hosts = HostConfig::Load(start.paths.programFolder, start.paths.dataFolder);
        if (options.screenshotFolder) {
            // Pictures are of the window alone: no network, no login.
            hooks.startUserAgentDiscovery = [](const std::string&,
                                               std::shared_ptr<ui::WindowMailbox>) {};
            hooks.login = {};
            hooks.feedback = ui::FeedbackHook(settings);
            exitCode = SaveScreenshots(settings, hooks, *options.screenshotFolder);
        } else if (HandOverToUpdater(settings)) {
            exitCode = 0;
        } else {
            // Kept until the window has gone: it holds the logged-in account's lock.
            const auto services = ui::PlugServiceHooks(hooks, settings);
            ui::CVelquistDlg window(settings, std::move(hooks));
            exitCode = window.run();
        }
    }
    // The exit has waited for the run to end; its last workers are leaving their threads. One
    // still stuck in a transfer after that wait is left to the end of the process.
    JoinWorkers(std::chrono::seconds(2));
    CHttpClient::RemoveTlsLocks();
    startupConnection.close();
    return exitCode;
}

namespace {

void Settle() {
    for (int i = 0; i < 5; ++i) {
        QEventLoop pause;
        QTimer::singleShot(20, &pause, &QEventLoop::quit);
        pause.exec();
    }
}

bool Save(QWidget& widget, const QString& folder, const QString& name) {
    const QString path = folder + "/" + name + ".png";
    const bool saved = widget.grab().save(path);
    std::fprintf(stderr, "%s %s\n", saved ? "saved" : "could not save", qPrintable(path));
    return saved;
}

// Shows a dialog without its modal loop, saves it, and closes it.
bool SaveDialog(QWidget& dialog, const QString& folder, const QString& name) {
    dialog.show();
    Settle();
    const bool saved = Save(dialog, folder, name);
    dialog.hide();
    return saved;
}

// Waits, with the window's events going on, until `done` or the time is up.
bool WaitUntil(const std::function<bool()>& done, int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < milliseconds) {
        QEventLoop pause;
        QTimer::singleShot(20, &pause, &QEventLoop::quit);
        pause.exec();
    }
    return done();
}

// Both ranking pages in the middle of a run: the first ranks in, the other keywords still
// querying; each run is stopped and ended before the next picture. Only against a search
// stand-in on this machine: the real engine is never queried for pictures.
bool SaveRunningPages(ui::CVelquistDlg& window, const QString& folder, const QString& suffix) {
    const std::string& host = window.settings().hosts.searchHost;
    if (host.rfind("127.0.0.1", 0) != 0 && host.rfind("localhost", 0) != 0) return true;
    SilentNotifier quiet;  // the run-end messages would wait for a click
    ui::SetNotifier(&quiet);
    auto* paid = qobject_cast<ui::CDialogSem*>(window.page(ui::PageTab::Paid));
    auto* natural = qobject_cast<ui::CDialogSeo*>(window.page(ui::PageTab::Natural));
    const std::pair<ui::PageTab, ui::CRankingListPage*> pages[] = {
        {ui::PageTab::Natural, natural}, {ui::PageTab::Paid, paid ? paid->keywordPane() : nullptr}};
    bool saved = true;
    for (const auto& [tab, page] : pages) {
        if (!page) continue;
        window.selectPage(tab);
        page->list()->tickAll();
        page->tool(ui::CRankingListPage::kStart)->click();
        WaitUntil([page = page] { return page->finishedCount() >= 2 || !page->runActive(); },
                  20000);
        Settle();
        const QString name =
            tab == ui::PageTab::Natural ? QStringLiteral("natural") : QStringLiteral("paid");
        saved &= Save(window, folder, "main-" + name + "-running-" + suffix);
        if (page->runActive()) page->tool(ui::CRankingListPage::kStart)->click();
        WaitUntil([page = page] { return !page->runActive(); }, 30000);
    }
    ui::SetNotifier(nullptr);
    return saved;
}

// The rank history of the natural page's first keyword, which the running pictures have checked
// twice by now.
bool SaveRankHistory(ui::CVelquistDlg& window, const QString& folder) {
    auto* natural = qobject_cast<ui::CDialogSeo*>(window.page(ui::PageTab::Natural));
    if (!natural || natural->rows().empty()) return true;
    const auto history = natural->rankHistoryDialog(0);
    return history && SaveDialog(*history, folder, "dialog-rank-history");
}

}  // namespace

int SaveScreenshots(const ui::MainWindowSettings& settings, const ui::MainWindowHooks& hooks,
                    const QString& folder) {
    using ui::PageTab;
    QDir().mkpath(folder);
    QGuiApplication::setQuitOnLastWindowClosed(false);
    bool allSaved = true;
    const std::pair<PageTab, QString> tabs[] = {
        {PageTab::Paid, QStringLiteral("paid")},
        {PageTab::Natural, QStringLiteral("natural")},
        {PageTab::Settings, QStringLiteral("settings")},
    };
    const auto savePages = [&](ui::CVelquistDlg& window, const QString& suffix) {
        for (const auto& [tab, name] : tabs) {
            window.selectPage(tab);
            Settle();
            allSaved &= Save(window, folder, "main-" + name + "-" + suffix);
        }
    };

    {
        ui::CVelquistDlg window(settings, hooks);
        window.openWindow();
        Settle();
        // Without a window manager nobody honours "maximised", so the window takes the
        // screen's work area itself, as a window manager would have done.
        const QScreen* screen = window.screen();
        if (screen && window.geometry() != screen->availableGeometry())
            window.setGeometry(screen->availableGeometry());
        savePages(window, QStringLiteral("maximised"));
        allSaved &= SaveRunningPages(window, folder, QStringLiteral("maximised"));
    }

    ui::MainWindowSettings restored = settings;
    restored.openMaximised = false;
    ui::CVelquistDlg window(restored, hooks);
    window.openWindow();
    const QRect available = window.screen()->availableGeometry();
    window.setGeometry(QRect(available.x() + (available.width() - 1280) / 2,
                             available.y() + (available.height() - 800) / 2, 1280, 800));
    Settle();
    savePages(window, QStringLiteral("1280x800"));
    allSaved &= SaveRunningPages(window, folder, QStringLiteral("1280x800"));
    allSaved &= SaveRankHistory(window, folder);

    window.popupMenu()->popup(window.popupMenuPosition());
    Settle();
    allSaved &= Save(*window.popupMenu(), folder, "menu");
    window.popupMenu()->hide();

    const std::string dbPath = settings.paths.databasePath;
    {
        ui::CDialogAbout about(&window);
        allSaved &= SaveDialog(about, folder, "dialog-about");
    }
    {
        ui::CDialogAddSeo addSeo(dbPath, &window);
        allSaved &= SaveDialog(addSeo, folder, "dialog-add-natural");
    }
    {
        ui::CDialogAddSem addSem(dbPath, &window);
        allSaved &= SaveDialog(addSem, folder, "dialog-add-paid");
    }
    {
        ui::CDialogModify modify(QStringLiteral("www.example.com"), &window);
        allSaved &= SaveDialog(modify, folder, "dialog-modify");
    }
    {
        window.messageDialog()->setText(QStringLiteral("查询完毕！共查询 120 个关键词。"));
        allSaved &= SaveDialog(*window.messageDialog(), folder, "dialog-message");
    }
    {
        ui::CLoginDialog login(
            {settings.hosts, settings.paths.dataFolder, settings.paths.databasePath}, &window);
        allSaved &= SaveDialog(login, folder, "dialog-login");
    }
    {
        ui::CDialogFeedback feedback(settings.hosts, settings.paths.settingsPath, &window);
        allSaved &= SaveDialog(feedback, folder, "dialog-feedback");
    }
    {
        ui::CDialogExample importHelp(&window);
        allSaved &= SaveDialog(importHelp, folder, "dialog-import-help");
    }
    {
        ui::CDialogExportSelectSeo exportWizard(ExportKind::Natural, &window);
        allSaved &= SaveDialog(exportWizard, folder, "dialog-export-wizard");
    }
    {
        ui::CAboutDlg plainAbout(&window);
        allSaved &= SaveDialog(plainAbout, folder, "dialog-about-plain");
    }
    {
        ui::UserAgentDlg userAgent(&window, [] { return std::string("Mozilla/5.0"); });
        allSaved &= Save(userAgent, folder, "dialog-user-agent");
    }
    {
        const auto question = ui::MakeMessageBox(ui::kExitQuestion, kDefaultCaption, true, &window);
        allSaved &= SaveDialog(*question, folder, "message-exit");
        const auto busy = ui::MakeMessageBox(ui::kQueryBusy, kDefaultCaption, false, &window);
        allSaved &= SaveDialog(*busy, folder, "message-busy");
    }
    return allSaved ? 0 : 1;
}

}  // namespace velquist::app
