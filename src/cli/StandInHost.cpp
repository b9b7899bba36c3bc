#include "cli/StandInHost.h"

StandInHost::StandInHost(QString program, QStringList arguments, QTextStream& out, QObject* parent)
    : QObject(parent)
    , m_program(std::move(program))
    , m_arguments(std::move(arguments))
    , m_out(out) {
    m_ravlek.setProcessChannelMode(QProcess::ForwardedChannels);
    m_ravlek.setInputChannelMode(QProcess::ForwardedInputChannel);
    connect(&m_ravlek, &QProcess::finished, this, &StandInHost::onFinished);
}

bool StandInHost::start(QString* error) {
    platform::WindowDefinition definition;
    definition.className = QStringLiteral("TRavlekHost");
    definition.title = QStringLiteral("Ravlek host");
    definition.handler = [this](quint32 msg, qint64 wParam, qint64 lParam) {
        return receive(msg, wParam, lParam);
    };
    m_window = platform::windowBus().registerWindow(definition, error);
    if (!m_window)
        return false;

    m_ravlek.setProgram(m_program);
    m_ravlek.setArguments(QStringList{QStringLiteral("HWND=") + QString::number(m_window->handle())} +
                          m_arguments);
    m_ravlek.start();
    if (!m_ravlek.waitForStarted(-1)) {
        *error = m_program + QStringLiteral(": ") + m_ravlek.errorString();
        return false;
    }
    return true;
}

QString StandInHost::describeMessage(const QString& name, quint32 msg, qint64 wParam, qint64 lParam) {
    return QStringLiteral("%1 wParam=%2 lParam=%3")
        .arg(name.isEmpty() ? QString::number(msg) : name)
        .arg(wParam)
        .arg(lParam);
}

qint64 StandInHost::receive(quint32 msg, qint64 wParam, qint64 lParam) {
    m_out << describeMessage(platform::windowBus().messageName(msg), msg, wParam, lParam) << Qt::endl;
    return 0;
}

void StandInHost::onFinished(int exitCode, QProcess::ExitStatus status) {
    // After a crash QProcess gives the signal number; report it the way a shell does.
    Q_EMIT finished(status == QProcess::NormalExit ? exitCode : 128 + exitCode);
}
