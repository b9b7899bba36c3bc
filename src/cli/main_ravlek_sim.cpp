// ravlek-sim: the command line of the simulated scanner devices (see docs/simulator.md).

#include "cli/SimTool.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    return RunSimTool(app.arguments().mid(1), out, err);
}
