#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/database.h"
#include "core/process_state.h"
#include "core/schema.h"
#include "core/user_notifier.h"
#include "temp_folder.h"
#include "ui/message_box.h"
#include "ui/skin.h"
#include "ui/url_opener.h"
#include "ui/velquist_dlg.h"
#include "ui/window_mailbox.h"

namespace velquist::testing {

// Records every message and question; questions take the scripted answers in order, then
// `fallbackAnswer`. Installed as the window's notifier for its lifetime.
class ScriptedNotifier final : public UserNotifier {
  public:
    ScriptedNotifier() { ui::SetNotifier(this); }
    ~ScriptedNotifier() override { ui::SetNotifier(nullptr); }
    ScriptedNotifier(const ScriptedNotifier&) = delete;
    ScriptedNotifier& operator=(const ScriptedNotifier&) = delete;

    using UserNotifier::showMessage;
    void showMessage(const std::string& text, const std::string& caption) override {
        std::lock_guard lock(m_mutex);
        messages.push_back(text);
        captions.push_back(caption);
    }
    bool askYesNo(const std::string& text, const std::string& caption) override {
        std::lock_guard lock(m_mutex);
        questions.push_back(text);
        questionCaptions.push_back(caption);
        if (answers.empty()) return fallbackAnswer;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }

    std::vector<std::string> messages;
    std::vector<std::string> captions;
    std::vector<std::string> questions;
    std::vector<std::string> questionCaptions;
    std::deque<bool> answers;
    bool fallbackAnswer = false;

  private:
    std::mutex m_mutex;
};

// Replaces the browser with a recorder that answers `code`.
class RecordingOpener {
  public:
    explicit RecordingOpener(int code = ui::kOpenSucceeded) : m_code(code) {
        ui::SetUrlOpener([this](const QString& address) {
            opened.push_back(address);
            return m_code;
        });
    }
    ~RecordingOpener() { ui::SetUrlOpener({}); }
    void setCode(int code) { m_code = code; }
    std::vector<QString> opened;

  private:
    int m_code;
};

// A data folder with a fresh, schema-synced database; the skins come from the build.
class DataFolder {
  public:
    DataFolder() {
        ui::SetProgramFolder(QStringLiteral(VELQUIST_PROGRAM_DIR));
        paths = PathsForDataFolder(folder.path());
        SilentNotifier silent;
        PrepareDatabase(paths.dataFolder, paths.databaseFolder, paths.databasePath, silent);
    }
    bool exec(const char* sql) {
        DbConnection db(paths.databasePath);
        return db.execute(sql) == kSqliteOk;
    }
    int count(const char* sql) {
        DbConnection db(paths.databasePath);
        return ReadSingleInt(db, sql);
    }

    TempFolder folder;
    AppPaths paths;
};

// Main-window settings for tests: no waiting beyond what a test asks for.
inline ui::MainWindowSettings FastSettings(const AppPaths& paths) {
    ui::MainWindowSettings settings;
    settings.paths = paths;
    settings.exitWaitLimit = std::chrono::milliseconds(5000);
    settings.exitPollInterval = std::chrono::milliseconds(5);
    settings.loginDelay = std::chrono::milliseconds(0);
    settings.startupReportDelay = std::chrono::milliseconds(0);
    return settings;
}

// Hooks that never reach the network: the discovery only records the run id it was given.
struct RecordedDiscovery {
    std::string runId;
    std::shared_ptr<ui::WindowMailbox> mailbox;
    int starts = 0;
};

inline ui::MainWindowHooks QuietHooks(RecordedDiscovery& discovery) {
    ui::MainWindowHooks hooks;
    hooks.startUserAgentDiscovery = [&discovery](const std::string& runId,
                                                 std::shared_ptr<ui::WindowMailbox> mailbox) {
        discovery.runId = runId;
        discovery.mailbox = std::move(mailbox);
        ++discovery.starts;
    };
    return hooks;
}

// Runs `handle` on the next modal dialog of type T once it is up (a modal exec() would
// otherwise block the test), then closes it if the handler left it open.
template <typename T>
void WhenModalShown(std::function<void(T*)> handle, int attempts = 200) {
    QTimer::singleShot(10, [handle, attempts] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            handle(dialog);
            if (dialog->isVisible()) dialog->reject();
        } else if (attempts > 0) {
            WhenModalShown<T>(handle, attempts - 1);
        }
    });
}

// The process-wide flags as a fresh start has them.
inline void ResetProcessFlags() {
    Process().queryRunning = false;
    Process().queryFinished = true;
    Process().setUserAgent("");
}

}  // namespace velquist::testing
