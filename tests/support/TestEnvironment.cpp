#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

TestEnvironment::TestEnvironment(const QString& computerName) {
    QVERIFY2(m_dir.isValid(), "temporary folder");
    m_previousDirectory = QDir::currentPath();
    setVariable("XDG_CONFIG_HOME", makeFolder(QStringLiteral("config")));
    setVariable("XDG_DATA_HOME", makeFolder(QStringLiteral("data")));
    setVariable("XDG_STATE_HOME", makeFolder(QStringLiteral("state")));
    const QString runtime = makeFolder(QStringLiteral("runtime"));
    // A runtime folder must be private to its user, as the XDG rules ask.
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    setVariable("XDG_RUNTIME_DIR", runtime);
    setVariable("KELVO_MACHINE_DIR", makeFolder(QStringLiteral("machine")));
    setVariable("KELVO_SIM_DIR", makeFolder(QStringLiteral("sim")));
    setVariable("KELVO_COMPUTERNAME", computerName);
    QDir::setCurrent(makeFolder(QStringLiteral("cwd")));
}

TestEnvironment::~TestEnvironment() {
    QDir::setCurrent(m_previousDirectory);
    for (auto it = m_saved.cbegin(); it != m_saved.cend(); ++it) {
        if (it.value())
            qputenv(it.key().constData(), *it.value());
        else
            qunsetenv(it.key().constData());
    }
}

QString TestEnvironment::path(const QString& relative) const {
    return m_dir.filePath(relative);
}

QString TestEnvironment::makeFolder(const QString& relative) const {
    const QString folder = path(relative);
    QDir().mkpath(folder);
    return folder;
}

QString TestEnvironment::writeFile(const QString& relative, const QByteArray& content) const {
    const QString file = path(relative);
    QDir().mkpath(QFileInfo(file).absolutePath());
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(content) != content.size())
        qFatal("cannot write test file %s", qPrintable(file));
    return file;
}

void TestEnvironment::setVariable(const char* name, const QString& value) {
    if (!m_saved.contains(name))
        m_saved.insert(name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
    qputenv(name, value.toLocal8Bit());
}

QString programPath(const QString& name) {
    const QString dir = qEnvironmentVariable("RAVLEK_BIN_DIR");
    return dir.isEmpty() ? name : dir + QLatin1Char('/') + name;
}
