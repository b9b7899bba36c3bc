#pragma once

// A real PACS for the tests: Debian's Orthanc, started on free loopback ports with its storage in
// a folder of the test, asked through its REST interface what arrived; and dicom3tools' dciodvfy,
// which says whether an object is valid DICOM.

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace orthanctest {

// For a test that needs Orthanc and dciodvfy: true when both are installed; otherwise skips the
// test, or fails it when RAVLEK_REQUIRE_ORTHANC=1, and returns false so that the test returns at once.
bool requireOrthanc();
// The same for dciodvfy alone.
bool requireDciodvfy();

// The "Error" lines dciodvfy gives for a DICOM file (empty: valid); its whole output in `report`.
QStringList dciodvfyErrors(const QString& file, QString* report = nullptr);

class OrthancServer {
public:
    // `folder` holds the configuration and the storage; `aeTitle` is the PACS's own AE title,
    // which it insists on being called by.
    explicit OrthancServer(QString folder, QString aeTitle = QStringLiteral("ORTHANC"));
    ~OrthancServer();
    OrthancServer(const OrthancServer&) = delete;
    OrthancServer& operator=(const OrthancServer&) = delete;

    // Starts the server and waits until it answers; the same ports and storage at every start.
    // Empty when it runs, otherwise why not.
    QString start();
    // Stops it (as a service manager would) and waits for its end.
    void stop();
    bool running() const;

    QString aeTitle() const { return m_aeTitle; }
    int dicomPort() const { return m_dicomPort; }
    // Orthanc's own log, for a failure message.
    QString log() const;

    // What the server stores: the number of instances (-1 when it does not answer), and each
    // instance's tags as Orthanc's "simplified-tags" give them.
    int instanceCount();
    QList<QJsonObject> instanceTags();
    // The stored objects as DICOM files.
    QList<QByteArray> instanceFiles();

private:
    QByteArray get(const QString& path, bool* ok);

    QString m_folder;
    QString m_aeTitle;
    int m_dicomPort = 0;
    int m_httpPort = 0;
    QProcess m_process;
    QByteArray m_log;
};

} // namespace orthanctest
