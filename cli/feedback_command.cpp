#include <algorithm>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "cli/commands.h"
#include "core/text.h"
#include "services/feedback.h"
#include "services/machine_facts.h"

namespace velquist::cli {

namespace {

constexpr const char* kFeedbackUsage =
    R"(usage: velquist feedback [--contact-type TYPE] --contact TEXT --content TEXT|-

Sends a question or suggestion to the vendor, with this computer's processor, memory and
operating system. "--content -" reads the content from stdin.
  TYPE  QQ (default), 飞信, 旺旺, MSN, 邮箱, 电话/手机 or 其他
)";

}  // namespace

int RunFeedback(CliContext& context, Arguments args) {
    if (args.wantsHelp()) {
        *context.out << kFeedbackUsage;
        return kExitOk;
    }
    bool missing = false;
    const auto type = args.takeOption("--contact-type", missing);
    const auto contact = args.takeOption("--contact", missing);
    const auto content = args.takeOption("--content", missing);
    if (missing || args.unknownOption() || !args.rest().empty()) {
        *context.err << kFeedbackUsage;
        return kExitUsage;
    }
    FeedbackForm form;
    form.contactType = type.value_or(kFeedbackContactTypes.front());
    if (std::find_if(kFeedbackContactTypes.begin(), kFeedbackContactTypes.end(),
                     [&form](const char* known) { return form.contactType == known; }) ==
        kFeedbackContactTypes.end()) {
        *context.err << "velquist: unknown contact type '" << form.contactType << "'\n"
                     << kFeedbackUsage;
        return kExitUsage;
    }
    form.contact = contact.value_or("");
    if (content && *content == "-") {
        std::ostringstream text;
        text << std::cin.rdbuf();
        form.content = text.str();
    } else {
        form.content = content.value_or("");
    }
    for (const auto& [text, what] :
         {std::pair{&form.contact, "contact"}, {&form.content, "content"}}) {
        if (!IsValidUtf8(*text) || text->find('\0') != std::string::npos)
            return context.refuse(std::string("velquist: the ") + what + " is not UTF-8 text");
    }
    if (const auto problem = FeedbackFormProblem(form)) return context.refuse(*problem);
    if (!EnsureFolder(context.paths.dataFolder)) {
        *context.err << "velquist: cannot create the data folder " << context.paths.dataFolder
                     << '\n';
        return kExitRefused;
    }
    const FeedbackResult result = SendFeedback(context.hosts, form, GatherMachineFacts(),
                                               ProcessMachineIdentity(context.paths.settingsPath));
    if (result.outcome != FeedbackOutcome::Sent) return context.refuse(result.message);
    context.inform(result.message);
    return kExitOk;
}

}  // namespace velquist::cli
