// ravlek-outbox: the images waiting for the PACS, listed and sent from the command line
// (see docs/pacs.md).

#include "cli/OutboxTool.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    return RunOutboxTool(app.arguments().mid(1), out, err);
}
