// ravlek-sim: the command line of the simulated scanner devices (see docs/simulator.md).

#include "cli/SimTool.h"
#include "tools/ProgramOptions.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char* argv[]) {
    // Commands have options of their own ("expose 8 --wait"); only options before the command are ours.
    TProgramOptions options{QStringLiteral("ravlek-sim"), SimToolUsage()};
    options.leadingOnly = true;
    if (const std::optional<int> exitCode = HandleProgramOptions(argc, argv, options))
        return *exitCode;

    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    return RunSimTool(app.arguments().mid(1), out, err);
}
