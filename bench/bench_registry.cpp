// Speed of the registry settings store: ReadSetting on a hive of 1,000 values (goal: median
// below 20 µs per read), and four processes writing 250 values each into one hive at once,
// all of which must arrive. Prints its figures.

#include "platform/RegFileRegistry.h"
#include "tools/KelvoEnvironment.h"
#include "tools/KelvoSettings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using platform::Hive;

namespace {

constexpr int kValues = 1000;
constexpr int kReads = 10000;
constexpr int kWriters = 4;
constexpr int kWritesEach = 250;
const char* const kWriterStep = "--writer";
const QString kInstallation = QStringLiteral("Bench\\");
const QString kSection = QStringLiteral("XRay");
const QString kSectionKey = QStringLiteral("SOFTWARE\\Kelvo\\Bench\\XRay");

double medianMicroseconds(std::vector<qint64> nanoseconds) {
    std::sort(nanoseconds.begin(), nanoseconds.end());
    return double(nanoseconds[nanoseconds.size() / 2]) / 1000.0;
}

// Median time of one ReadSetting over kReads reads spread over the 1,000 values.
double medianRead(const QString& prefix) {
    std::vector<qint64> times;
    times.reserve(kReads);
    QElapsedTimer timer;
    for (int i = 0; i < kReads; ++i) {
        const QString name = prefix + QString::number(i % kValues);
        timer.start();
        const QString value = ReadSetting(kSection, name);
        times.push_back(timer.nsecsElapsed());
        if (value == kMissingSetting)
            qFatal("setting %s is missing", qPrintable(name));
    }
    return medianMicroseconds(times);
}

void fillHive(Hive hive, const QString& prefix) {
    QList<platform::RegChange> changes;
    for (int i = 0; i < kValues; ++i) {
        const platform::RegValue value =
            platform::RegValue::ofText(prefix + QString::number(i), QStringLiteral("value number %1").arg(i));
        changes.append({platform::RegChange::Kind::SetValue, kSectionKey, value});
    }
    if (!platform::registry().apply(hive, changes).ok)
        qFatal("cannot fill the hive");
}

// One writer process: kWritesEach values of its own, each a WriteRegString of its own.
int writerStep(int writer) {
    for (int i = 0; i < kWritesEach; ++i) {
        if (!WriteRegString(Hive::CurrentUser, kSectionKey, QStringLiteral("W%1_%2").arg(writer).arg(i),
                            QString::number(i)))
            return 1;
    }
    return 0;
}

void benchmarkReads() {
    fillHive(Hive::CurrentUser, QStringLiteral("User"));
    std::printf("ReadSetting, %d values in the user hive, %d reads: median %.2f us per read (goal < 20 us)\n",
                kValues, kReads, medianRead(QStringLiteral("User")));
    fillHive(Hive::LocalMachine, QStringLiteral("Machine"));
    std::printf("ReadSetting found only in the machine hive (three look-ups): median %.2f us per read\n",
                medianRead(QStringLiteral("Machine")));
}

void benchmarkConcurrentWrites() {
    std::vector<std::unique_ptr<QProcess>> writers;
    QElapsedTimer timer;
    timer.start();
    for (int w = 0; w < kWriters; ++w) {
        auto process = std::make_unique<QProcess>();
        process->setProcessChannelMode(QProcess::ForwardedChannels);
        process->start(QCoreApplication::applicationFilePath(),
                       {QString::fromLatin1(kWriterStep), QString::number(w)});
        writers.push_back(std::move(process));
    }
    for (auto& process : writers) {
        if (!process->waitForFinished(-1) || process->exitCode() != 0)
            qFatal("a writer failed");
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;

    platform::RegFileRegistry reader;
    int present = 0;
    for (int w = 0; w < kWriters; ++w) {
        for (int i = 0; i < kWritesEach; ++i) {
            const auto value =
                reader.value(Hive::CurrentUser, kSectionKey, QStringLiteral("W%1_%2").arg(w).arg(i));
            present += value && value->text() == QString::number(i) ? 1 : 0;
        }
    }
    const int total = kWriters * kWritesEach;
    std::printf("%d processes writing %d values each to one hive at once: %d of %d present, %.0f writes per "
                "second (%.2f s)\n",
                kWriters, kWritesEach, present, total, total / seconds, seconds);
    if (present != total)
        qFatal("writes were lost");
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Environment().ApplicationKey = Environment().UserKey = kInstallation;
    if (argc > 2 && qstrcmp(argv[1], kWriterStep) == 0)
        return writerStep(QString::fromLatin1(argv[2]).toInt());

    QTemporaryDir folder;
    if (!folder.isValid())
        qFatal("no temporary folder");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(folder.filePath(QStringLiteral("config"))));
    qputenv("KELVO_MACHINE_DIR", QFile::encodeName(folder.filePath(QStringLiteral("machine"))));
    benchmarkReads();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(folder.filePath(QStringLiteral("config-writers"))));
    benchmarkConcurrentWrites();
    return 0;
}
