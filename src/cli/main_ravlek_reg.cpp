// ravlek-reg: the registry from the command line, in the manner of the Windows `reg` tool.

#include "cli/RegTool.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv) {
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
