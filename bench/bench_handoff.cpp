// Speed of the image hand-off: copying a finished image into the patient folder against
// `cp` of the same file on the same disk, finding the next running number in a large
// patient folder, and writing the information file. Prints its figures; goals: hand-off at
// most 1.2 × cp, numbering < 10 ms.

#include "app/ImageHandOff.h"
#include "support/BenchFigures.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

namespace {

constexpr int kRounds = 7;

double millisecondsOf(const std::function<void()>& work) {
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

void writeRandomFile(const QString& path, qint64 size) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (qint64 written = 0; written < size; written += block.size()) {
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
        file.write(block.constData(), std::min<qint64>(block.size(), size - written));
    }
}

void runProgram(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitCode() != 0)
        qFatal("%s failed", qPrintable(program));
}

void benchCopy(const QString& root, int megabytes) {
    const QString source = root + QStringLiteral("/lastscannedfile.dcm");
    writeRandomFile(source, qint64(megabytes) << 20);
    const QString outDir = root + QStringLiteral("/out/");
    const QString cpTarget = root + QStringLiteral("/cp-copy.dcm");

    std::vector<double> handOff, cp, cpSynced;
    for (int round = 0; round < kRounds; ++round) {
        QDir(outDir).removeRecursively();
        QDir().mkpath(outDir + QStringLiteral("1"));
        handOff.push_back(millisecondsOf([&] {
            if (!CopyToPatientFolder(source, false, outDir, 1).success)
                qFatal("hand-off failed");
        }));
        QFile::remove(cpTarget);
        cp.push_back(millisecondsOf([&] { runProgram(QStringLiteral("cp"), {source, cpTarget}); }));
        QFile::remove(cpTarget);
        cpSynced.push_back(millisecondsOf([&] {
            runProgram(QStringLiteral("cp"), {source, cpTarget});
            runProgram(QStringLiteral("sync"), {cpTarget});
        }));
    }
    const double ratio = median(handOff) / median(cp);
    std::printf(
        "hand-off %2d MB: %8.2f ms   cp %8.2f ms   ratio %.2f (goal <= 1.20, %s)   cp+sync %8.2f ms\n",
        megabytes, median(handOff), median(cp), ratio, ratio <= 1.2 ? "met" : "missed", median(cpSynced));
    QFile::remove(source);
    QFile::remove(cpTarget);
    QDir(outDir).removeRecursively();
}

void benchNumbering(const QString& root) {
    const QString folder = root + QStringLiteral("/numbering/1/");
    QDir().mkpath(folder);
    for (int i = 1; i <= 5000; ++i) {
        for (const char* extension : {".bmp", ".xnf"}) {
            QFile file(folder + QStringLiteral("Rtg1_%1").arg(i) + QLatin1String(extension));
            if (!file.open(QIODevice::WriteOnly))
                qFatal("cannot create %s", qPrintable(file.fileName()));
        }
    }
    qint64 next = 0;
    const double first = millisecondsOf([&] { next = NextRunningNumber(folder); });
    std::vector<double> wall, processor;
    for (int round = 0; round < 50; ++round) {
        const std::clock_t started = std::clock();
        wall.push_back(millisecondsOf([&] { next = NextRunningNumber(folder); }));
        processor.push_back(double(std::clock() - started) * 1000.0 / CLOCKS_PER_SEC);
    }
    const double worst = *std::max_element(wall.begin(), wall.end());
    std::printf("NextRunningNumber, 10000 entries: median %.2f ms, worst %.2f ms, first %.2f ms "
                "(goal < 10 ms, %s); CPU time median %.2f ms; next = %lld\n",
                median(wall), worst, first, median(wall) < 10 ? "met" : "missed", median(processor),
                static_cast<long long>(next));
}

// The information file as it is written now (every key into a temporary file, renamed into
// place when whole) against the eleven keys written straight into place, as it was done before.
void benchInformationFile(const QString& root) {
    const QString folder = root + QStringLiteral("/information/");
    QDir().mkpath(folder);
    ImageContext context;
    context.scannerLabel = QStringLiteral("Digora Toto: CONNECTED");
    context.workstationName = QStringLiteral("RUM3");
    const ImageInformation information = MakeImageInformation(
        folder + QStringLiteral("Rtg1_1.bmp"),
        ReadImageParameters(QStringLiteral("DEVICE Digora Toto\nPIXELSIZEH 0.087\nMAGFACTOR 1.27")), context);
    const std::pair<QString, QString> keys[] = {
        {QStringLiteral("SourceFile"), information.SourceFile},
        {QStringLiteral("kV"), information.kV},
        {QStringLiteral("mA"), information.mA},
        {QStringLiteral("mS"), information.mS},
        {QStringLiteral("ManuFacturer"), information.ManuFacturer},
        {QStringLiteral("ScannerLabel"), information.ScannerLabel},
        {QStringLiteral("VersionHardware"), information.VersionHardware},
        {QStringLiteral("Resolution"), information.Resolution},
        {QStringLiteral("Zoom"), information.Zoom},
        {QStringLiteral("VersionDriver"), information.VersionDriver},
        {QStringLiteral("StationName"), information.StationName},
    };
    std::vector<double> whole, straight;
    for (int round = 0; round < 3 * kRounds; ++round) {
        const QString name = folder + QStringLiteral("Rtg1_%1.xnf").arg(round);
        whole.push_back(millisecondsOf([&] {
            if (!WriteImageInformation(name, information))
                qFatal("information file not written");
        }));
        const QString before = folder + QStringLiteral("before-%1.xnf").arg(round);
        straight.push_back(millisecondsOf([&] {
            for (const auto& [key, value] : keys)
                WriteIniValue(before, kImageInformationSection, key, value);
        }));
    }
    std::printf("information file: whole or nothing %.2f ms, key by key into place %.2f ms\n", median(whole),
                median(straight));
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    // Beside the program, so that the copies and cp share one disk.
    QTemporaryDir dir(QCoreApplication::applicationDirPath() + QStringLiteral("/bench-handoff-XXXXXX"));
    if (!dir.isValid())
        qFatal("no temporary folder");
    const QStorageInfo storage(dir.path());
    std::printf("folder %s on %s (%s), %d rounds, medians\n", qPrintable(dir.path()),
                qPrintable(storage.rootPath()), storage.fileSystemType().constData(), kRounds);
    for (const int megabytes : {5, 30, 60})
        benchCopy(dir.path(), megabytes);
    benchNumbering(dir.path());
    benchInformationFile(dir.path());
    return 0;
}
