#include "services/feedback.h"

#include <json/value.h>

#include "core/text.h"
#include "engine/http_client.h"
#include "services/envelope.h"

namespace velquist {

namespace {

constexpr const char* kAppId = "13";
// The service answers "200" or a short refusal.
constexpr std::size_t kFeedbackAnswerMaxBytes = 64 * 1024;

FeedbackForm Trimmed(const FeedbackForm& form) {
    return {TrimWhitespace(form.contactType), TrimWhitespace(form.contact),
            TrimWhitespace(form.content)};
}

}  // namespace

std::optional<std::string> FeedbackFormProblem(const FeedbackForm& form) {
    const FeedbackForm trimmed = Trimmed(form);
    if (trimmed.content.empty() || trimmed.content == kFeedbackContentHint)
        return std::string(kFeedbackNeedsContent);
    if (trimmed.contact.empty()) return std::string(kFeedbackNeedsContact);
    return std::nullopt;
}

std::string BuildFeedbackBody(const FeedbackForm& form, const MachineFacts& facts,
                              const MachineIdentity& identity, const std::string& timeText) {
    const FeedbackForm trimmed = Trimmed(form);
    Json::Value object(Json::objectValue);
    BuildCredentialFields(object, identity.encoded, identity.raw, "", timeText);
    object["appid"] = kAppId;
    object["contact"] = UrlEncodeForm(trimmed.contactType + "：" + trimmed.contact);
    object["content"] = UrlEncodeForm(trimmed.content);
    object["cpu"] = UrlEncodeForm(TrimWhitespace(facts.cpu));
    object["memory"] = UrlEncodeForm(TrimWhitespace(facts.memory));
    object["os"] = UrlEncodeForm(OsText(facts));
    return "act=opinion&code=" + EncipherToHex(kLoginKey, WriteJson(object));
}

std::string FeedbackUrl(const HostConfig& hosts) {
    return ServiceBaseUrl(hosts.statisticsHost) + "/index.php?do=universal_opinion";
}

FeedbackResult SendFeedback(const HostConfig& hosts, const FeedbackForm& form,
                            const MachineFacts& facts, const MachineIdentity& identity) {
    if (auto problem = FeedbackFormProblem(form))
        return {FeedbackOutcome::FormIncomplete, std::move(*problem)};
    CHttpClient client;
    client.url = FeedbackUrl(hosts);
    client.postData = BuildFeedbackBody(form, facts, identity, LocalTimeText());
    client.referer.clear();
    client.connectTimeoutSeconds = hosts.httpTimeoutSeconds;
    client.timeoutSeconds = hosts.httpTimeoutSeconds;
    client.maxBodyBytes = kFeedbackAnswerMaxBytes;
    std::string answer;
    std::string headers;
    if (client.Perform(answer, headers) != 0)
        return {FeedbackOutcome::NetworkFailure, kFeedbackNetworkError};
    if (answer != "200") return {FeedbackOutcome::NotAccepted, kFeedbackDataError};
    return {FeedbackOutcome::Sent, kFeedbackThanks};
}

}  // namespace velquist
