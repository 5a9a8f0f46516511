#pragma once

#include <array>
#include <optional>
#include <string>

#include "core/host_config.h"
#include "services/machine_facts.h"

namespace velquist {

// What the content box holds until the user writes in it.
inline constexpr const char* kFeedbackContentHint =
    "请详细描述您的问题现象，以便我们快速解决问题！";
// The contact types offered, the first one preselected.
inline constexpr std::array<const char*, 7> kFeedbackContactTypes = {
    "QQ", "飞信", "旺旺", "MSN", "邮箱", "电话/手机", "其他"};

// Messages of the feedback (caption "提示").
inline constexpr const char* kFeedbackNeedsContent = "请填写您的问题或建议！";
inline constexpr const char* kFeedbackNeedsContact = "请填写您的联系方式！";
inline constexpr const char* kFeedbackNetworkError = "网络错误，请重试!";
inline constexpr const char* kFeedbackDataError = "数据错误，请重试!";
inline constexpr const char* kFeedbackThanks =
    "提交成功，感谢您对Zanquil查排名的支持，我们会尽快处理您的问题！";

struct FeedbackForm {
    std::string contactType;
    std::string contact;
    std::string content;
};

// The message that stops a form from being sent (the content is asked for first), or nullopt.
std::optional<std::string> FeedbackFormProblem(const FeedbackForm& form);

// "act=opinion&code=HEX" for a checked form: the contact is "TYPE：TEXT", and every text is
// trimmed and form-encoded inside the enciphered JSON.
std::string BuildFeedbackBody(const FeedbackForm& form, const MachineFacts& facts,
                              const MachineIdentity& identity, const std::string& timeText);

// Statistics service base + "/index.php?do=universal_opinion".
std::string FeedbackUrl(const HostConfig& hosts);

enum class FeedbackOutcome { Sent, FormIncomplete, NetworkFailure, NotAccepted };

struct FeedbackResult {
    FeedbackOutcome outcome = FeedbackOutcome::NetworkFailure;
    // The text to show: the form's problem, the failure, or the thanks (information icon).
    std::string message;
};

// Checks the form and sends it; only "200" counts as accepted. Blocks for the request; any
// thread, nothing shared.
FeedbackResult SendFeedback(const HostConfig& hosts, const FeedbackForm& form,
                            const MachineFacts& facts, const MachineIdentity& identity);

}  // namespace velquist
