// Start-up of ravlek on the embedded default, measured from outside the program as a user
// sees it: from the process start until the main window is on the window bus, and until the
// device list has been built and the only device (the Digora Toto) has been chosen, opened and
// armed for a scan. Median of 10 starts after a first start on a fresh installation, which also
// creates the database; peak memory (VmHWM) of the process once it is armed.
// Goals: armed in under 300 ms, under 80 MB.

#include "../tests/e2e/E2eInstallation.h"
#include "platform/WindowBus.h"
#include "support/BenchFigures.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace e2e;

namespace {

constexpr int kStarts = 10;
constexpr qint64 kGiveUpMs = 30000;
constexpr double kGoalMs = 300;
constexpr double kGoalMb = 80;

struct Start {
    double windowMs = -1; // the TRavlekMainForm window is on the bus
    double armedMs = -1;  // the device list is built and the chosen device armed
    double peakMb = -1;   // VmHWM at that moment
};

bool mainWindowOf(qint64 pid) {
    const QList<platform::WindowInfo> windows = platform::windowBus().enumWindows();
    return std::any_of(windows.cbegin(), windows.cend(), [pid](const platform::WindowInfo& window) {
        return window.processId == pid && window.className == QStringLiteral("TRavlekMainForm");
    });
}

bool armedBy(const SimDeviceFolder& device, qint64 pid) {
    const std::optional<SimDeviceReport> report = device.report();
    return device.openedBy() == pid && report && report->pid == pid && report->armed;
}

double peakMegabytes(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

Start startOnce(const SimDeviceFolder& device, const QString& outDir) {
    Start start;
    QElapsedTimer clock;
    clock.start();
    RunningProgram ravlek(QStringLiteral("ravlek"),
                          {QStringLiteral("PNR=4711"), QStringLiteral("OUTDIR=") + outDir},
                          programEnvironment());
    if (!ravlek.process().waitForStarted(kGiveUpMs))
        return start;
    const qint64 pid = ravlek.pid();
    while (clock.elapsed() < kGiveUpMs && ravlek.process().state() == QProcess::Running) {
        const double now = double(clock.nsecsElapsed()) / 1e6;
        if (start.windowMs < 0 && mainWindowOf(pid))
            start.windowMs = now;
        if (armedBy(device, pid)) {
            start.armedMs = now;
            if (start.windowMs < 0) // it came up between the two looks
                start.windowMs = now;
            start.peakMb = peakMegabytes(pid);
            break;
        }
        QThread::usleep(500);
    }
    if (start.armedMs < 0)
        std::fprintf(stderr, "ravlek did not arm the device:\n%s\n%s\n",
                     ravlek.process().readAllStandardOutput().constData(),
                     ravlek.process().readAllStandardError().constData());
    return start; // the object's end kills ravlek; the kernel frees the device
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    TestEnvironment env;
    const QString outDir = env.makeFolder(QStringLiteral("xray")) + QLatin1Char('/');
    for (const QString& failure :
         {configureCaptureStation(QStringLiteral("¤8¤"), QStringLiteral("DIB"), QStringLiteral("8")),
          simulator({QStringLiteral("list")})})
        if (!failure.isEmpty())
            qFatal("%s", qPrintable(failure));
    const std::optional<SimDeviceFolder> device = simulatedDevice(QStringLiteral("8"));
    if (!device)
        qFatal("no simulated Digora Toto");

    const Start fresh = startOnce(*device, outDir);
    if (fresh.armedMs < 0)
        return 1;
    std::vector<double> window, armed, peak;
    for (int i = 0; i < kStarts; ++i) {
        const Start start = startOnce(*device, outDir);
        if (start.armedMs < 0)
            return 1;
        window.push_back(start.windowMs);
        armed.push_back(start.armedMs);
        peak.push_back(start.peakMb);
    }

    std::printf("ravlek start-up on the embedded default (Digora Toto, SQLite), %d starts\n", kStarts);
    std::printf("  first start, fresh installation: window %.1f ms, armed %.1f ms, peak %.1f MB\n",
                fresh.windowMs, fresh.armedMs, fresh.peakMb);
    std::printf("  main window on the bus     median %.1f ms (min %.1f, max %.1f)\n", median(window),
                *std::min_element(window.begin(), window.end()),
                *std::max_element(window.begin(), window.end()));
    std::printf("  device list built, armed   median %.1f ms (min %.1f, max %.1f)   goal < %.0f ms: %s\n",
                median(armed), *std::min_element(armed.begin(), armed.end()),
                *std::max_element(armed.begin(), armed.end()), kGoalMs,
                median(armed) < kGoalMs ? "met" : "MISSED");
    std::printf("  peak memory (VmHWM)        median %.1f MB (max %.1f)   goal < %.0f MB: %s\n", median(peak),
                *std::max_element(peak.begin(), peak.end()), kGoalMb,
                median(peak) < kGoalMb ? "met" : "MISSED");
    return 0;
}
