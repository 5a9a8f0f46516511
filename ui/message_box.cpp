#include "ui/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <atomic>

#include "ui/qt_text.h"

namespace velquist::ui {

namespace {

QString CaptionOrDefault(const std::string& caption) {
    return Q(caption.empty() ? std::string(kDefaultCaption) : caption);
}

QWidget* BoxParent() {
    if (QWidget* modal = QApplication::activeModalWidget()) return modal;
    return QApplication::activeWindow();
}

// Runs `show` on the GUI thread; a caller on another thread waits for it.
template <typename Show>
auto OnGuiThread(Show show) {
    QCoreApplication* app = QCoreApplication::instance();
    using Result = decltype(show());
    if (!app || QThread::currentThread() == app->thread()) return show();
    Result result{};
    QMetaObject::invokeMethod(
        app, [&result, &show] { result = show(); }, Qt::BlockingQueuedConnection);
    return result;
}

QtMessageNotifier& MessageBoxes() {
    static QtMessageNotifier boxes;
    return boxes;
}

std::atomic<UserNotifier*> g_override{nullptr};

}  // namespace

std::unique_ptr<QMessageBox> MakeMessageBox(const std::string& text, const std::string& caption,
                                            bool question, QWidget* parent) {
    auto box = std::make_unique<QMessageBox>(
        question ? QMessageBox::Question : QMessageBox::Information, CaptionOrDefault(caption),
        Q(text), QMessageBox::NoButton, parent);
    if (question) {
        box->addButton(QMessageBox::Yes)->setText(QStringLiteral("是(&Y)"));
        box->addButton(QMessageBox::No)->setText(QStringLiteral("否(&N)"));
        box->setDefaultButton(QMessageBox::Yes);
        box->setEscapeButton(QMessageBox::No);
    } else {
        box->addButton(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    }
    return box;
}

void QtMessageNotifier::showMessage(const std::string& text, const std::string& caption) {
    OnGuiThread([&] {
        MakeMessageBox(text, caption, false, BoxParent())->exec();
        return true;
    });
}

bool QtMessageNotifier::askYesNo(const std::string& text, const std::string& caption) {
    return OnGuiThread([&] {
        return MakeMessageBox(text, caption, true, BoxParent())->exec() == QMessageBox::Yes;
    });
}

UserNotifier& Notifier() {
    UserNotifier* replaced = g_override.load();
    return replaced ? *replaced : MessageBoxes();
}

void SetNotifier(UserNotifier* notifier) { g_override.store(notifier); }

}  // namespace velquist::ui
