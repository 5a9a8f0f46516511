#include "ui/user_agent_dialog.h"

#include <QLabel>
#include <QTimer>
#include <exception>
#include <thread>

#include "core/process_state.h"
#include "engine/sleeper.h"
#include "services/user_agent.h"
#include "ui/message_box.h"
#include "ui/skin.h"

namespace velquist::ui {

void StartUserAgentDiscovery(const HostConfig& hosts, const std::string& runId,
                             std::shared_ptr<WindowMailbox> mailbox) {
    std::thread([hosts, runId, mailbox = std::move(mailbox)] {
        std::string userAgent;
        try {
            userAgent = UserAgentExchange(hosts, runId, false, RealSleeper());
        } catch (const std::exception&) {
            userAgent.clear();
        }
        // The GUI thread stores it, so the process's user agent has one writer.
        if (!userAgent.empty())
            mailbox->post(0, userAgent);
        else
            mailbox->post(1);
    }).detach();
}

UserAgentDlg::UserAgentDlg(QWidget* parent, PageReader reader)
    : CYUiEntity(parent), m_reader(std::move(reader)) {
    if (!m_reader) m_reader = LocalUserAgent;
    setFixedSize(360, 140);
    setupSkin(Mode::Dialog);
    setCaptionText(QStringLiteral("获取浏览器信息"));
    auto* text = new QLabel(QStringLiteral("正在读取浏览器标识，请稍候……"), this);
    text->setFont(SkinFont(13));
    text->setAlignment(Qt::AlignCenter);
    text->setGeometry(20, 50, width() - 40, 60);
}

std::string UserAgentDlg::discover() {
    std::string userAgent = m_reader();
    if (userAgent.empty()) {
        Notifier().showMessage(kUserAgentReadError);
        userAgent = kUserAgentLocalFallback;
    }
    Process().setUserAgent(userAgent);
    return Process().userAgent();
}

void UserAgentDlg::showEvent(QShowEvent* event) {
    CYUiEntity::showEvent(event);
    if (m_started) return;
    m_started = true;
    QTimer::singleShot(0, this, [this] {
        discover();
        accept();
    });
}

}  // namespace velquist::ui
