#pragma once

#include <memory>
#include <string>

#include "core/host_config.h"
#include "services/feedback.h"
#include "services/machine_facts.h"
#include "ui/yui_entity.h"

class QComboBox;
class QLineEdit;
class QPlainTextEdit;

namespace velquist::ui {

class CYButton;
class WindowMailbox;

// "Zanquil查排名反馈建议": the user's problem or suggestion and how to reach them, sent to the
// statistics service with the facts of this computer. The request runs on a worker thread while
// the submit button is disabled; its answer comes back to the dialog's thread, and is dropped
// when the dialog has gone by then. GUI thread only.
class CDialogFeedback : public CYUiEntity {
    Q_OBJECT

  public:
    enum ControlId {
        kCloseButton = 1006,
        kContent = 1009,
        kContactType = 1017,
        kContact = 1018,
        kSubmit = 1019,
        kBack = 1020,
    };

    // `settingsPath`: RankSettings.ini, where a computer without adapter addresses keeps its id.
    CDialogFeedback(HostConfig hosts, std::string settingsPath, QWidget* parent = nullptr);
    ~CDialogFeedback() override;

    QPlainTextEdit* contentEdit() const { return m_content; }
    QComboBox* contactTypeBox() const { return m_contactType; }
    QLineEdit* contactEdit() const { return m_contact; }
    CYButton* submitButton() const { return m_submit; }
    CYButton* backButton() const { return m_back; }
    bool sending() const { return m_sending; }

  public slots:
    // "提交问题": checks the form, then sends it.
    void onSubmit();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    FeedbackForm readForm() const;
    void onAnswer(int outcome, const std::string& message);

    HostConfig m_hosts;
    std::string m_settingsPath;
    MachineFacts m_facts;
    std::shared_ptr<WindowMailbox> m_mailbox;
    bool m_sending = false;

    QPlainTextEdit* m_content = nullptr;
    QComboBox* m_contactType = nullptr;
    QLineEdit* m_contact = nullptr;
    CYButton* m_submit = nullptr;
    CYButton* m_back = nullptr;
};

}  // namespace velquist::ui
