#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QTemporaryDir>

// An isolated installation for one test: every per-user and machine-wide location
// (hives, data-link folder, bus, simulated devices, the log) points into a fresh temporary
// folder, which is also the current directory, until the object is destroyed.
class TestEnvironment {
public:
    explicit TestEnvironment(const QString& computerName = QStringLiteral("TESTPC"));
    ~TestEnvironment();
    TestEnvironment(const TestEnvironment&) = delete;
    TestEnvironment& operator=(const TestEnvironment&) = delete;

    QString root() const { return m_dir.path(); }
    // A path inside the temporary folder.
    QString path(const QString& relative) const;
    // Creates a folder inside the temporary folder and returns its path.
    QString makeFolder(const QString& relative) const;
    // Writes a file inside the temporary folder and returns its path.
    QString writeFile(const QString& relative, const QByteArray& content) const;

    // Sets an environment variable for the test's lifetime.
    void setVariable(const char* name, const QString& value);

private:
    QTemporaryDir m_dir;
    QString m_previousDirectory;
    QHash<QByteArray, std::optional<QByteArray>> m_saved;
};

// Path of one of the project's programs in the build (RAVLEK_BIN_DIR).
QString programPath(const QString& name);
