#include "cli/StandInHost.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

// ravlek-host [arguments for ravlek...]
// Starts ravlek for a patient the way the journal program does and prints the messages
// ravlek sends to it. RAVLEK_PROGRAM names another ravlek executable.
int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QString program = qEnvironmentVariable("RAVLEK_PROGRAM");
    if (program.isEmpty())
        program = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("ravlek"));

    QTextStream out(stdout);
    StandInHost host(program, app.arguments().mid(1), out);
    QObject::connect(&host, &StandInHost::finished, &app, [](int code) { QCoreApplication::exit(code); });
    QString error;
    if (!host.start(&error)) {
        QTextStream(stderr) << "ravlek-host: " << error << Qt::endl;
        return 2;
    }
    return app.exec();
}
