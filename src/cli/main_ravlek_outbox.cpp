// ravlek-outbox: the images waiting for the PACS, listed and sent from the command line
// (see docs/pacs.md).

#include "cli/OutboxTool.h"
#include "tools/ProgramOptions.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char* argv[]) {
    // "send" has options of its own; only those before the command are ours.
    TProgramOptions options{QStringLiteral("ravlek-outbox"), OutboxToolUsage()};
    options.leadingOnly = true;
    if (const std::optional<int> exitCode = HandleProgramOptions(argc, argv, options))
        return *exitCode;

    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    return RunOutboxTool(app.arguments().mid(1), out, err);
}
