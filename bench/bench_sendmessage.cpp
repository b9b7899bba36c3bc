// Round trip of a synchronous window message between two processes: this program starts a
// copy of itself as the receiver ("--receiver <folder>"), then times sendMessage to it.

#include "platform/LocalWindowBus.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <vector>

namespace {

constexpr int WarmUpSends = 200;
constexpr int TimedSends = 2000;

int runReceiver(const QString& folder) {
    platform::LocalWindowBus bus(folder);
    const auto registration =
        bus.registerWindow({QStringLiteral("TRavlekHost"), QStringLiteral("Benchmark receiver"),
                            [](quint32, qint64 wParam, qint64 lParam) { return wParam + lParam; }, nullptr});
    if (!registration)
        return 2;
    QTextStream(stdout) << registration->handle() << Qt::endl;
    return QCoreApplication::exec();
}

double percentile(const std::vector<qint64>& sorted, double fraction) {
    return double(sorted[std::size_t(fraction * double(sorted.size() - 1))]) / 1000.0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.value(1) == u"--receiver")
        return runReceiver(arguments.value(2));

    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("kelvo-bus"));
    QProcess receiver;
    receiver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    receiver.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--receiver"), folder});
    if (!receiver.waitForReadyRead(10000)) {
        qWarning("receiver did not start");
        return 1;
    }
    const platform::WindowHandle handle = receiver.readLine().trimmed().toInt();
    platform::LocalWindowBus bus(folder);
    const quint32 msg = bus.registerWindowMessage(QStringLiteral("XRAY_NEW_IMAGE"));

    for (int i = 0; i < WarmUpSends; ++i)
        bus.sendMessage(handle, msg, i, 1);
    std::vector<qint64> nanoseconds;
    nanoseconds.reserve(TimedSends);
    int wrong = 0;
    QElapsedTimer timer;
    for (int i = 0; i < TimedSends; ++i) {
        timer.start();
        const qint64 result = bus.sendMessage(handle, msg, i, 1);
        nanoseconds.push_back(timer.nsecsElapsed());
        wrong += result != i + 1;
    }
    receiver.kill();
    receiver.waitForFinished();

    std::sort(nanoseconds.begin(), nanoseconds.end());
    QTextStream out(stdout);
    out << "sendMessage round trip between two processes, " << TimedSends << " sends\n"
        << "  median " << percentile(nanoseconds, 0.5) << " us\n"
        << "  p90    " << percentile(nanoseconds, 0.9) << " us\n"
        << "  p99    " << percentile(nanoseconds, 0.99) << " us\n"
        << "  wrong results: " << wrong << '\n';
    return wrong == 0 ? 0 : 1;
}
