#pragma once

#include <functional>
#include <memory>
#include <string>

#include "core/host_config.h"
#include "ui/window_mailbox.h"
#include "ui/yui_entity.h"

namespace velquist::ui {

inline constexpr const char* kUserAgentReadError =
    "获取计算机信息出错（-101），请联系Zanquil客服！";

// Starts the server exchange on a detached worker thread. An accepted user agent comes back as
// (0, user agent) through the mailbox, anything else as (1, "").
void StartUserAgentDiscovery(const HostConfig& hosts, const std::string& runId,
                             std::shared_ptr<WindowMailbox> mailbox);

// Local discovery: reads what the local page says the browser is, stores it as the process's
// user agent and closes itself. There is no browser to ask here, so the page text is the fixed
// local answer unless a test gives another reader.
class UserAgentDlg : public CYUiEntity {
    Q_OBJECT

  public:
    using PageReader = std::function<std::string()>;

    explicit UserAgentDlg(QWidget* parent = nullptr, PageReader reader = {});

    // What the dialog stored; run once when it is shown.
    std::string discover();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    PageReader m_reader;
    bool m_started = false;
};

}  // namespace velquist::ui
