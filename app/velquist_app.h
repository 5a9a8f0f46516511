#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <string>

#include "core/paths.h"
#include "core/user_notifier.h"
#include "ui/velquist_dlg.h"

namespace velquist::app {

struct StartupOptions {
    std::optional<std::string> dataFolder;    // --data-dir: instead of documents + "/Velquist"
    std::optional<QString> screenshotFolder;  // --screenshot-dir: save pictures, then quit
};

// Morvane's command line; nullopt with `error` set when it cannot be used.
std::optional<StartupOptions> ParseArguments(const QStringList& arguments, QString* error);
QString UsageText();

struct PreparedStart {
    AppPaths paths;
    bool databaseReady = false;
};

// The start-up sequence before the window: the program folder (the current directory, where
// the skins are), the data folder, the schema brought up to date, and a check that the
// database can be used. A database that cannot be opened has shown "数据库打开失败！".
PreparedStart PrepareStart(const StartupOptions& options, UserNotifier& notifier);

// The whole run: start-up, the main window until the confirmed exit, shutdown. Returns the
// process exit code: 0 after a normal exit, 1 when the database could not be used.
int RunVelquist(const StartupOptions& options, ui::MainWindowHooks hooks = {});

// Opens the main window maximised and at 1280 x 800, shows every page, the menu and each small
// dialog in turn, and saves a PNG of each into `folder`. 0 when every picture was saved.
int SaveScreenshots(const ui::MainWindowSettings& settings, const ui::MainWindowHooks& hooks,
                    const QString& folder);

}  // namespace velquist::app
