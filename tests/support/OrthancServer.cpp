#include "OrthancServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>
#include <QThread>
#include <QTimer>

namespace orthanctest {

namespace {

QString orthancProgram() {
    return QStandardPaths::findExecutable(QStringLiteral("Orthanc"),
                                          {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
}

QString dciodvfyProgram() {
    return QStandardPaths::findExecutable(QStringLiteral("dciodvfy"));
}

bool require(bool present, const char* what) {
    if (present)
        return true;
    const QByteArray text = QByteArray(what) + " is not installed (scripts/install-deps installs it)";
    if (qEnvironmentVariable("RAVLEK_REQUIRE_ORTHANC") == QStringLiteral("1"))
        QTest::qFail(("RAVLEK_REQUIRE_ORTHANC=1 but " + text).constData(), __FILE__, __LINE__);
    else
        QTest::qSkip(text.constData(), __FILE__, __LINE__);
    return false;
}

// A loopback port that nothing listens on just now.
int freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

bool requireOrthanc() {
    return require(!orthancProgram().isEmpty(), "Orthanc (Debian package orthanc)") && requireDciodvfy();
}

bool requireDciodvfy() {
    return require(!dciodvfyProgram().isEmpty(), "dciodvfy (Debian package dicom3tools)");
}

QStringList dciodvfyErrors(const QString& file, QString* report) {
    QProcess check;
    check.setProcessChannelMode(QProcess::MergedChannels);
    check.start(dciodvfyProgram(), {file});
    if (!check.waitForFinished(60000))
        return {QStringLiteral("Error - dciodvfy did not finish")};
    const QString output = QString::fromUtf8(check.readAll());
    if (report)
        *report = output;
    QStringList errors;
    for (const QString& line : output.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("Error")))
            errors.append(line);
    }
    return errors;
}

OrthancServer::OrthancServer(QString folder, QString aeTitle)
    : m_folder(std::move(folder))
    , m_aeTitle(std::move(aeTitle)) {
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

OrthancServer::~OrthancServer() {
    stop();
}

QString OrthancServer::start() {
    if (running())
        return {};
    if (m_dicomPort == 0) {
        m_dicomPort = freePort();
        m_httpPort = freePort();
        QDir().mkpath(m_folder + QStringLiteral("/storage"));
        const QJsonObject config{
            {QStringLiteral("Name"), QStringLiteral("ravlek-test")},
            {QStringLiteral("StorageDirectory"), m_folder + QStringLiteral("/storage")},
            {QStringLiteral("IndexDirectory"), m_folder + QStringLiteral("/storage")},
            {QStringLiteral("Plugins"), QJsonArray()},
            {QStringLiteral("DicomServerEnabled"), true},
            {QStringLiteral("DicomAet"), m_aeTitle},
            {QStringLiteral("DicomPort"), m_dicomPort},
            // A PACS that insists on its own AE title, so that a wrong one is refused.
            {QStringLiteral("DicomCheckCalledAet"), true},
            {QStringLiteral("HttpServerEnabled"), true},
            {QStringLiteral("HttpPort"), m_httpPort},
            {QStringLiteral("RemoteAccessAllowed"), false},
            {QStringLiteral("AuthenticationEnabled"), false},
            {QStringLiteral("ConcurrentJobs"), 1},
            {QStringLiteral("SaveJobs"), false},
        };
        QFile file(m_folder + QStringLiteral("/orthanc.json"));
        if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(config).toJson()) < 0)
            return QStringLiteral("cannot write ") + file.fileName();
    }
    m_process.start(orthancProgram(), {m_folder + QStringLiteral("/orthanc.json")});
    if (!m_process.waitForStarted(10000))
        return QStringLiteral("Orthanc does not start: ") + m_process.errorString();
    for (QDeadlineTimer deadline(30000); !deadline.hasExpired(); QThread::msleep(100)) {
        bool ok = false;
        get(QStringLiteral("/system"), &ok);
        if (ok)
            return {};
        if (m_process.state() == QProcess::NotRunning)
            break;
    }
    return QStringLiteral("Orthanc does not answer:\n") + log();
}

void OrthancServer::stop() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(20000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    m_log += m_process.readAll();
}

bool OrthancServer::running() const {
    return m_process.state() != QProcess::NotRunning;
}

QString OrthancServer::log() const {
    auto* process = const_cast<QProcess*>(&m_process);
    auto* collected = const_cast<QByteArray*>(&m_log);
    *collected += process->readAll();
    return QString::fromUtf8(*collected);
}

QByteArray OrthancServer::get(const QString& path, bool* ok) {
    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_httpPort).arg(path)));
    request.setTransferTimeout(10000);
    QNetworkReply* reply = network.get(request);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const QByteArray body = reply->readAll();
    *ok = reply->error() == QNetworkReply::NoError;
    reply->deleteLater();
    return body;
}

int OrthancServer::instanceCount() {
    bool ok = false;
    const QByteArray body = get(QStringLiteral("/instances"), &ok);
    return ok ? int(QJsonDocument::fromJson(body).array().size()) : -1;
}

QList<QJsonObject> OrthancServer::instanceTags() {
    QList<QJsonObject> tags;
    bool ok = false;
    const QJsonArray ids = QJsonDocument::fromJson(get(QStringLiteral("/instances"), &ok)).array();
    for (const QJsonValue& id : ids) {
        const QByteArray body = get(QStringLiteral("/instances/%1/simplified-tags").arg(id.toString()), &ok);
        if (ok)
            tags.append(QJsonDocument::fromJson(body).object());
    }
    return tags;
}

QList<QByteArray> OrthancServer::instanceFiles() {
    QList<QByteArray> files;
    bool ok = false;
    const QJsonArray ids = QJsonDocument::fromJson(get(QStringLiteral("/instances"), &ok)).array();
    for (const QJsonValue& id : ids) {
        const QByteArray body = get(QStringLiteral("/instances/%1/file").arg(id.toString()), &ok);
        if (ok)
            files.append(body);
    }
    return files;
}

} // namespace orthanctest
