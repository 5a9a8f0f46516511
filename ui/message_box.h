#pragma once

#include <memory>
#include <string>

#include "core/user_notifier.h"

class QMessageBox;
class QWidget;

namespace velquist::ui {

// The window's message boxes: QMessageBox with the caption "提示" unless one is given. Called
// from a worker thread it hands the box to the GUI thread and waits for the answer.
class QtMessageNotifier final : public UserNotifier {
  public:
    using UserNotifier::showMessage;
    void showMessage(const std::string& text, const std::string& caption) override;
    bool askYesNo(const std::string& text, const std::string& caption) override;
};

// The box itself, with Chinese button texts: "确定" for a message, "是" / "否" for a question.
std::unique_ptr<QMessageBox> MakeMessageBox(const std::string& text, const std::string& caption,
                                            bool question, QWidget* parent);

// The one notifier every window and dialog talks through: the message boxes above unless a
// test has put its recording notifier in place.
UserNotifier& Notifier();
// nullptr puts the message boxes back.
void SetNotifier(UserNotifier* notifier);

}  // namespace velquist::ui
