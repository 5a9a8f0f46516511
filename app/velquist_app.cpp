#include "app/velquist_app.h"

#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <cstdio>

#include "core/database.h"
#include "core/host_config.h"
#include "core/schema.h"
#include "engine/http_client.h"
#include "ui/dialog_about.h"
#include "ui/dialog_add_keywords.h"
#include "ui/dialog_message.h"
#include "ui/dialog_modify.h"
#include "ui/message_box.h"
#include "ui/qt_text.h"
#include "ui/skin.h"
#include "ui/user_agent_dialog.h"

namespace velquist::app {

QString UsageText() {
    return QStringLiteral(
        "usage: Morvane [--data-dir DIR] [--screenshot-dir DIR]\n"
        "\n"
        "Starts the Velquist window in the current folder (its skin folders are looked up there).\n"
        "  --data-dir DIR        data folder (default: documents folder + /Velquist)\n"
        "  --screenshot-dir DIR  save a PNG of every page and dialog into DIR, then quit\n");
}

std::optional<StartupOptions> ParseArguments(const QStringList& arguments, QString* error) {
    StartupOptions options;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const auto value = [&]() -> std::optional<QString> {
            if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty()) return std::nullopt;
            return arguments[++i];
        };
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            options.help = true;
        } else if (argument == QLatin1String("--data-dir")) {
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
            exitCode = SaveScreenshots(settings, hooks, *options.screenshotFolder);
        } else {
            ui::CVelquistDlg window(settings, std::move(hooks));
            exitCode = window.run();
        }
    }
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
