// The PACS beside the hand-off, measured in the program's own main window on the simulated driver
// with a real PACS (Orthanc on loopback) and a 5 MB DIB:
// - from XRAY_NEW_IMAGE reaching the host to the image stored in the PACS (the C-STORE answered),
//   median of the runs;
// - the hand-off's own time (OnEndOfImage to its end: copy, information file, host message) with
//   the PACS on against off, alternating; goal: ratio on/off at most 1.05. Also with the previous
//   image still being wrapped and sent while the next one is handed off.

#include "app/MainUnit.h"
#include "app/PacsLink.h"
#include "database/XrayDatabase.h"
#include "devices/DeviceList.h"
#include "pacs/PacsService.h"
#include "platform/WindowBus.h"
#include "settings/ProgramDatabaseLinks.h"
#include "settings/USettings.h"
#include "sim/SimCatalogue.h"
#include "sim/SimDeviceFolder.h"
#include "sim/SimImageWriter.h"
#include "sim/SimRadiograph.h"
#include "sim/SimulatedDsd.h"
#include "support/BenchFigures.h"
#include "support/OrthancServer.h"
#include "support/TestEnvironment.h"
#include "tools/KelvoEnvironment.h"
#include "tools/KelvoSettings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <vector>

namespace {

constexpr int kLatencyRuns = 9;
constexpr int kHandOffRounds = 15;
constexpr int kWidth = 2560;
constexpr int kHeight = 2048; // 8 bits a pixel: a DIB of 5.0 MiB

QElapsedTimer gClock;

// The journal program, in this process: notes when XRAY_NEW_IMAGE arrives.
class Host {
public:
    Host() {
        platform::WindowDefinition definition;
        definition.className = QStringLiteral("TJournal");
        definition.title = QStringLiteral("Journal");
        definition.handler = [this](quint32 msg, qint64, qint64) {
            if (platform::windowBus().messageName(msg) == QStringLiteral("XRAY_NEW_IMAGE"))
                newImageAtNs = gClock.nsecsElapsed();
            return qint64(0);
        };
        m_registration = platform::windowBus().registerWindow(definition);
    }
    QString handleArgument() const {
        return QStringLiteral("HWND=") + QString::number(m_registration->handle());
    }
    qint64 newImageAtNs = 0;

private:
    std::unique_ptr<platform::WindowRegistration> m_registration;
};

void writeWorkingFile(const QString& path, const QByteArray& dib) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(dib) != dib.size())
        qFatal("cannot write %s", qPrintable(path));
}

void setPacs(TRavlekMainForm& form, const QString& host, int port) {
    WriteSetting(QStringLiteral("XRay"), QStringLiteral("PacsHost"), host);
    WriteSetting(QStringLiteral("XRay"), QStringLiteral("PacsPort"), QString::number(port));
    WriteSetting(QStringLiteral("XRay"), QStringLiteral("PacsCalledAE"), QStringLiteral("ORTHANC"));
    form.Pacs()->ReloadSettings();
}

// Waits until the outbox has sent everything; false after a minute.
bool waitUntilSent(pacs::PacsService& service, int sentBefore, int* sent) {
    QElapsedTimer waited;
    waited.start();
    while (*sent < sentBefore + 1 || service.WaitingCount() > 0) {
        if (waited.elapsed() > 60000)
            return false;
        QTest::qWait(1);
    }
    return true;
}

double millisecondsOf(const std::function<void()>& work) {
    const qint64 start = gClock.nsecsElapsed();
    work();
    return double(gClock.nsecsElapsed() - start) / 1e6;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    gClock.start();
    TestEnvironment env;
    RegisterSimulatedDriver();
    InitApplicationEnvironment({QStringLiteral("ravlek")});
    WriteSetting(QStringLiteral("DigoraDevices"), QStringLiteral("8"), QStringLiteral("Digora Toto"));
    WriteSetting(QStringLiteral("DigoraDevices"), QStringLiteral("ConnectTo"), u"¤8¤"_qs);
    for (const char* key : {"TotoOneShot", "Preview", "DeleteSource", "PlaySoundWhenScannerIsReady"})
        WriteSetting(QStringLiteral("XRay"), QString::fromLatin1(key), QStringLiteral("0"));
    const SimCatalogue catalogue;
    SimDeviceFolder(catalogue.deviceFolder(*catalogue.find(QStringLiteral("8"))))
        .updateConfig([](SimDeviceConfig& config) { config.stageMs = 0; });

    // The PACS keeps its files in memory where it can: a PACS has a disk of its own, and its writes
    // are not the workstation's.
    QTemporaryDir memory(QStringLiteral("/dev/shm/bench-pacs-XXXXXX"));
    orthanctest::OrthancServer server(memory.isValid() ? memory.path()
                                                       : env.makeFolder(QStringLiteral("pacs")));
    if (const QString failure = server.start(); !failure.isEmpty()) {
        std::printf("no PACS to measure against (Debian package orthanc): %s\n", qPrintable(failure));
        return 1;
    }

    Host host;
    const QString outDir = env.makeFolder(QStringLiteral("xray")) + QLatin1Char('/');
    TXrayDatabase database(Environment(), ProgramDatabaseLinks());
    TRavlekMainForm form(&database, {QStringLiteral("ravlek"), QStringLiteral("PNR=1"), host.handleArgument(),
                                     QStringLiteral("OUTDIR=") + outDir});
    form.CreateSettingsWindow();
    form.show();
    form.activateWindow();
    if (!QTest::qWaitForWindowActive(&form))
        qWarning("the main window was not activated");
    for (QElapsedTimer waited; !form.Devices()->ScannerConnected(); QTest::qWait(10)) {
        if (!waited.isValid())
            waited.start();
        if (waited.elapsed() > 30000)
            qFatal("the simulated device was not opened");
    }
    const QByteArray dib =
        EncodeDib(SynthesizeRadiograph(RadiographKind::Panoramic, kWidth, kHeight, 1), 0.087);
    pacs::PacsService& service = form.Pacs()->Service();
    int sent = 0;
    qint64 sentAtNs = 0;
    QObject::connect(&service, &pacs::PacsService::Sent, [&] {
        sentAtNs = gClock.nsecsElapsed();
        ++sent;
    });
    std::printf("DIB of %.2f MB (%d x %d, 8 bits), Orthanc on 127.0.0.1:%d storing %s, medians\n",
                dib.size() / 1048576.0, kWidth, kHeight, server.dicomPort(),
                memory.isValid() ? "in memory" : "on this disk");

    // From the host's notice to the PACS's answer.
    setPacs(form, QStringLiteral("127.0.0.1"), server.dicomPort());
    std::vector<double> arrival;
    for (int run = 0; run < kLatencyRuns; ++run) {
        writeWorkingFile(form.FileName(), dib);
        const int before = sent;
        form.ScannerEndOfImage(form.Scanner(), 1);
        if (!waitUntilSent(service, before, &sent))
            qFatal("the image did not reach the PACS");
        arrival.push_back(double(sentAtNs - host.newImageAtNs) / 1e6);
    }
    std::printf(
        "XRAY_NEW_IMAGE to stored in the PACS: median %.1f ms, p90 %.1f ms (%d images; the PACS holds %d)\n",
        median(arrival), p90(arrival), kLatencyRuns, server.instanceCount());

    // The hand-off with the PACS on and off, each on an idle program, as captures come seconds apart.
    std::vector<double> on, off, busy;
    for (int round = 0; round < kHandOffRounds; ++round) {
        for (const bool pacsOn : {round % 2 == 0, round % 2 != 0}) {
            setPacs(form, pacsOn ? QStringLiteral("127.0.0.1") : QString(), server.dicomPort());
            writeWorkingFile(form.FileName(), dib);
            const int before = sent;
            const double ms = millisecondsOf([&] { form.ScannerEndOfImage(form.Scanner(), 1); });
            (pacsOn ? on : off).push_back(ms);
            if (pacsOn && !waitUntilSent(service, before, &sent))
                qFatal("the image did not reach the PACS");
        }
    }
    // The next image handed off while the previous one is still being wrapped and sent.
    setPacs(form, QStringLiteral("127.0.0.1"), server.dicomPort());
    for (int round = 0; round < kHandOffRounds; ++round) {
        writeWorkingFile(form.FileName(), dib);
        const int before = sent;
        form.ScannerEndOfImage(form.Scanner(), 1);
        writeWorkingFile(form.FileName(), dib);
        busy.push_back(millisecondsOf([&] { form.ScannerEndOfImage(form.Scanner(), 1); }));
        if (!waitUntilSent(service, before + 1, &sent))
            qFatal("the images did not reach the PACS");
    }
    const double ratio = median(on) / median(off);
    std::printf("hand-off, PACS off: %.2f ms   on: %.2f ms   ratio %.3f (goal <= 1.05, %s)\n", median(off),
                median(on), ratio, ratio <= 1.05 ? "met" : "missed");
    std::printf("hand-off while the previous image is being sent: %.2f ms (ratio to off %.3f)\n",
                median(busy), median(busy) / median(off));
    return 0;
}
