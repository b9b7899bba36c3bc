// ravlek-reg: the registry from the command line, in the manner of the Windows `reg` tool.

#include "cli/RegTool.h"
#include "tools/ProgramOptions.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv) {
    // The Windows tool's own switches ("/v", "/?") come after the operation; only options
    // before it are ours.
    TProgramOptions options{QStringLiteral("ravlek-reg"),
                            RegToolUsage() + QStringLiteral("\n  ravlek-reg /? | --help | --version\n")};
    options.leadingOnly = true;
    if (const std::optional<int> exitCode = HandleProgramOptions(argc, argv, options))
        return *exitCode;

    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    QTextStream in(stdin);
    // Scripts cannot answer a question: without a terminal the tool goes ahead as if /f
    // (or /y) had been given. At a terminal it asks, as reg does.
    const bool interactive = ::isatty(STDIN_FILENO) == 1;
    RegToolConsole console{out, err, [&](const QString& question) {
                               if (!interactive)
                                   return true;
                               out << question;
                               out.flush();
                               const QString answer = in.readLine().trimmed();
                               return answer.compare(QLatin1String("y"), Qt::CaseInsensitive) == 0 ||
                                      answer.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0;
                           }};
    const int code = RunRegTool(app.arguments().mid(1), console);
    out.flush();
    err.flush();
    return code;
}
