#pragma once

#include "cli/cli_context.h"

namespace velquist::cli {

int RunSites(CliContext& context, Arguments args);
int RunKeywords(CliContext& context, Arguments args);
int RunTree(CliContext& context, Arguments args);
int RunSettings(CliContext& context, Arguments args);
int RunQuery(CliContext& context, Arguments args);
int RunImport(CliContext& context, Arguments args);
int RunExport(CliContext& context, Arguments args);
int RunLogin(CliContext& context, Arguments args);
int RunFeedback(CliContext& context, Arguments args);
int RunHistory(CliContext& context, Arguments args);
int RunUpdate(CliContext& context, Arguments args);

}  // namespace velquist::cli
