#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "core/user_notifier.h"

namespace velquist::testing {

// Keeps every text shown, in order, so tests can assert the system's own messages.
class RecordingNotifier final : public UserNotifier {
  public:
    using UserNotifier::showMessage;
    void showMessage(const std::string& text, const std::string& caption) override {
        std::lock_guard lock(m_mutex);
        messages.push_back(text);
        captions.push_back(caption);
    }
    bool askYesNo(const std::string& text, const std::string&) override {
        std::lock_guard lock(m_mutex);
        questions.push_back(text);
        return answer;
    }
    std::string last() const {
        std::lock_guard lock(m_mutex);
        return messages.empty() ? std::string() : messages.back();
    }

    std::vector<std::string> messages;
    std::vector<std::string> captions;
    std::vector<std::string> questions;
    bool answer = true;

  private:
    mutable std::mutex m_mutex;
};

}  // namespace velquist::testing
