#include "cli/SimTool.h"

#include "scanner/ScannerStatus.h"
#include "sim/SimCatalogue.h"
#include "sim/SimDeviceFolder.h"
#include "sim/SimImageWriter.h"
#include "sim/SimulatedDsd.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <optional>

namespace {

const QString kUsage = QStringLiteral(
    "Usage: ravlek-sim <command> [arguments]\n"
    "       ravlek-sim --help | --version\n"
    "A device is named by its type number (the first device of that type) or its network address.\n"
    "\n"
    "  list                                  devices, who holds them open, and their state\n"
    "  expose <device> [--wait] [--timeout <ms>]\n"
    "                                        expose the armed device; --wait until its image is written\n"
    "  fault <device> <operation> <code> [--times <n>]\n"
    "                                        make an operation return <code> (every time, or n times)\n"
    "  fault <device> <operation> clear      remove that fault\n"
    "  fault <device> clear                  remove every fault of the device\n"
    "  params <device> <text>|@<file>        replace the image parameter text\n"
    "  params <device> --default             go back to the device's own parameter text\n"
    "  delay <device> <ms>|off               expose by itself this long after being armed\n"
    "  stage <device> <ms>                   how long PLATEINSERTED and IMAGEREADOUT each last\n"
    "  seed <device> <number>                the seed of the synthetic picture\n"
    "  add <address> <type> [<model>]        add a device (type 1 to 12)\n"
    "  remove <device>                       remove a device that is not open\n"
    "  hold <device> [--workdir <dir>] [--arm <file> [--format <format>]]\n"
    "                                        open the device and keep it until this process ends,\n"
    "                                        like another workstation; format dib, raw8, raw12, dcm8\n"
    "                                        or dcm12 (default dib); prints each end of image\n"
    "\n"
    "Operations: OpenScanner, CloseScanner, GetScannerStatus, SetImageFormat, SetImageStore,\n"
    "ActivateScan, GetScannerVersion, DiscardImage, ActivateSetup, EndOfImage (the end of a scan).\n"
    "Exit codes: 0 done, 1 simulator files failed, 2 usage, 3 no such device, 4 refused by the\n"
    "device's state, 5 timed out.\n");

QString formatText(qint32 imageFormat) {
    const int depth = (imageFormat >> 16) & 0xFFFF;
    switch (imageFormat & 0xFFFF) {
    case SimFormat::Raw:
        return QStringLiteral("RAW %1 bits").arg(depth);
    case SimFormat::Dib:
        return QStringLiteral("DIB");
    case SimFormat::Dicom:
        return QStringLiteral("DCM %1 bits").arg(depth);
    default:
        return QStringLiteral("format %1").arg(imageFormat);
    }
}

std::optional<qint32> parseFormatName(const QString& name) {
    static const QList<std::pair<QString, qint32>> names{
        {QStringLiteral("dib"), 8 * 65536 + SimFormat::Dib},
        {QStringLiteral("raw8"), 8 * 65536 + SimFormat::Raw},
        {QStringLiteral("raw12"), 12 * 65536 + SimFormat::Raw},
        {QStringLiteral("dcm8"), 8 * 65536 + SimFormat::Dicom},
        {QStringLiteral("dcm12"), 12 * 65536 + SimFormat::Dicom}};
    for (const auto& [known, value] : names) {
        if (known.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return std::nullopt;
}

std::optional<int> parseInt(const QString& text, int minimum) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < minimum)
        return std::nullopt;
    return value;
}

class SimTool {
public:
    SimTool(QTextStream& out, QTextStream& err)
        : m_out(out)
        , m_err(err) {}

    int run(QStringList args) {
        if (args.isEmpty())
            return usage(QStringLiteral("no command given"));
        const QString command = args.takeFirst().toLower();
        if (command == QStringLiteral("help") || command == QStringLiteral("-h")) {
            m_out << kUsage;
            return SimToolExit::Done;
        }
        if (command == QStringLiteral("list"))
            return args.isEmpty() ? list() : usage(QStringLiteral("list takes no arguments"));
        if (command == QStringLiteral("add"))
            return add(args);
        if (args.isEmpty())
            return usage(QStringLiteral("%1 needs a device").arg(command));
        const QString deviceName = args.takeFirst();
        if (command == QStringLiteral("expose"))
            return withDevice(deviceName, [&](const SimDevice& d) { return expose(d, args); });
        if (command == QStringLiteral("fault"))
            return withDevice(deviceName, [&](const SimDevice& d) { return fault(d, args); });
        if (command == QStringLiteral("params"))
            return withDevice(deviceName, [&](const SimDevice& d) { return params(d, args); });
        if (command == QStringLiteral("delay"))
            return withDevice(deviceName, [&](const SimDevice& d) { return delay(d, args); });
        if (command == QStringLiteral("stage"))
            return withDevice(deviceName, [&](const SimDevice& d) { return stage(d, args); });
        if (command == QStringLiteral("seed"))
            return withDevice(deviceName, [&](const SimDevice& d) { return seed(d, args); });
        if (command == QStringLiteral("remove"))
            return args.isEmpty() ? withDevice(deviceName, [&](const SimDevice& d) { return remove(d); })
                                  : usage(QStringLiteral("remove takes one device"));
        if (command == QStringLiteral("hold"))
            return withDevice(deviceName, [&](const SimDevice& d) { return hold(d, args); });
        return usage(QStringLiteral("unknown command \"%1\"").arg(command));
    }

private:
    int usage(const QString& problem) {
        m_err << "ravlek-sim: " << problem << "\n\n" << kUsage;
        return SimToolExit::Usage;
    }

    int fail(int exitCode, const QString& problem) {
        m_err << "ravlek-sim: " << problem << '\n';
        return exitCode;
    }

    SimDeviceFolder folderOf(const SimDevice& device) const {
        return SimDeviceFolder(m_catalogue.deviceFolder(device));
    }

    int withDevice(const QString& name, const std::function<int(const SimDevice&)>& action) {
        QString error;
        const std::optional<SimDevice> device = m_catalogue.find(name, &error);
        if (!error.isEmpty())
            return fail(SimToolExit::Failed, error);
        if (!device)
            return fail(SimToolExit::NoDevice,
                        QStringLiteral("no device with type or address \"%1\"").arg(name));
        return action(*device);
    }

    int changeConfig(const SimDevice& device, const std::function<void(SimDeviceConfig&)>& change) {
        if (!folderOf(device).updateConfig(change))
            return fail(SimToolExit::Failed,
                        QStringLiteral("cannot store the settings of %1").arg(device.address));
        return SimToolExit::Done;
    }

    QString stateText(const SimDevice& device) const {
        const SimDeviceFolder folder = folderOf(device);
        QStringList parts;
        if (folder.isOpen()) {
            const std::optional<SimDeviceReport> report = folder.report();
            parts << QStringLiteral("open by pid %1").arg(folder.openedBy());
            if (report && report->status != 0) {
                parts << ScannerStatusWord(report->status);
                if (report->armed)
                    parts << QStringLiteral("armed: %1 -> %2")
                                 .arg(formatText(report->imageFormat), report->imageStore);
            }
        } else {
            parts << QStringLiteral("closed");
        }
        const SimDeviceConfig config = folder.config();
        if (config.exposureDelayMs)
            parts << QStringLiteral("delay %1 ms").arg(*config.exposureDelayMs);
        for (auto it = config.faults.cbegin(); it != config.faults.cend(); ++it) {
            parts << (it->remaining < 0 ? QStringLiteral("fault %1 %2").arg(it.key()).arg(it->code)
                                        : QStringLiteral("fault %1 %2 (%3 left)")
                                              .arg(it.key())
                                              .arg(it->code)
                                              .arg(it->remaining));
        }
        if (config.params)
            parts << QStringLiteral("own params");
        return parts.join(QStringLiteral(", "));
    }

    int list() {
        QString error;
        const QList<SimDevice> devices = m_catalogue.devices(&error);
        if (!error.isEmpty())
            return fail(SimToolExit::Failed, error);
        m_out << QStringLiteral("%1  %2  %3  %4\n")
                     .arg(QStringLiteral("TYPE"), -4)
                     .arg(QStringLiteral("ADDRESS"), -15)
                     .arg(QStringLiteral("MODEL"), -14)
                     .arg(QStringLiteral("STATE"));
        for (const SimDevice& device : devices) {
            m_out << QStringLiteral("%1  %2  %3  %4\n")
                         .arg(QString::number(device.type), -4)
                         .arg(device.address, -15)
                         .arg(device.model, -14)
                         .arg(stateText(device));
        }
        return SimToolExit::Done;
    }

    int expose(const SimDevice& device, QStringList args) {
        bool wait = false;
        int timeoutMs = 30000;
        while (!args.isEmpty()) {
            const QString option = args.takeFirst();
            if (option == QStringLiteral("--wait")) {
                wait = true;
            } else if (option == QStringLiteral("--timeout") && !args.isEmpty()) {
                const std::optional<int> value = parseInt(args.takeFirst(), 0);
                if (!value)
                    return usage(QStringLiteral("--timeout needs milliseconds"));
                timeoutMs = *value;
            } else {
                return usage(QStringLiteral("expose: unknown option \"%1\"").arg(option));
            }
        }
        const SimDeviceFolder folder = folderOf(device);
        if (!folder.isOpen())
            return fail(SimToolExit::Refused, QStringLiteral("%1 is not open").arg(device.address));
        const std::optional<SimDeviceReport> report = folder.report();
        if (!report || !report->armed)
            return fail(SimToolExit::Refused, QStringLiteral("%1 is not armed").arg(device.address));
        const std::optional<QString> id = folder.requestExposure();
        if (!id)
            return fail(SimToolExit::Failed, QStringLiteral("cannot write to %1").arg(folder.path()));
        if (!wait) {
            m_out << "exposure requested on " << device.address << '\n';
            return SimToolExit::Done;
        }
        return waitForImage(device, folder, *id, timeoutMs);
    }

    int waitForImage(const SimDevice& device, const SimDeviceFolder& folder, const QString& id,
                     int timeoutMs) {
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            const std::optional<SimDeviceReport> report = folder.report();
            if (report && report->exposureId == id && report->exposureResult == QStringLiteral("done")) {
                if (report->exposureCode != ScannerCode::Ok)
                    return fail(SimToolExit::Refused, QStringLiteral("the scan ended with %1 %2")
                                                          .arg(report->exposureCode)
                                                          .arg(ScannerStatusWord(report->exposureCode)));
                m_out << "image written to " << report->imageStore << '\n';
                return SimToolExit::Done;
            }
            if (report && report->exposureId == id && report->exposureResult == QStringLiteral("ignored"))
                return fail(SimToolExit::Refused,
                            QStringLiteral("%1 was busy or no longer armed").arg(device.address));
            if (!folder.isOpen())
                return fail(SimToolExit::Refused, QStringLiteral("%1 was closed").arg(device.address));
            QThread::msleep(20);
        }
        return fail(SimToolExit::TimedOut,
                    QStringLiteral("no image from %1 within %2 ms").arg(device.address).arg(timeoutMs));
    }

    int fault(const SimDevice& device, QStringList args) {
        if (args.size() == 1 && args.first().compare(QStringLiteral("clear"), Qt::CaseInsensitive) == 0)
            return changeConfig(device, [](SimDeviceConfig& config) { config.faults.clear(); });
        if (args.size() < 2)
            return usage(QStringLiteral("fault needs an operation and a code, or clear"));
        const QString operation = SimOperationName(args.takeFirst());
        if (operation.isEmpty())
            return usage(QStringLiteral("unknown operation"));
        const QString codeText = args.takeFirst();
        if (codeText.compare(QStringLiteral("clear"), Qt::CaseInsensitive) == 0 && args.isEmpty())
            return changeConfig(device, [&](SimDeviceConfig& config) { config.faults.remove(operation); });
        bool isNumber = false;
        const int code = codeText.toInt(&isNumber);
        if (!isNumber)
            return usage(QStringLiteral("the code must be a whole number"));
        int times = -1;
        if (!args.isEmpty()) {
            const std::optional<int> count = args.size() == 2 && args.first() == QStringLiteral("--times")
                                                 ? parseInt(args.last(), 1)
                                                 : std::nullopt;
            if (!count)
                return usage(QStringLiteral("fault: expected --times <n> with n of 1 or more"));
            times = *count;
        }
        return changeConfig(device, [&](SimDeviceConfig& config) {
            config.faults.insert(operation, SimFault{code, times});
        });
    }

    int params(const SimDevice& device, const QStringList& args) {
        if (args.size() != 1)
            return usage(QStringLiteral("params needs one text, @file or --default"));
        const QString value = args.first();
        if (value == QStringLiteral("--default"))
            return changeConfig(device, [](SimDeviceConfig& config) { config.params.reset(); });
        QString text = value;
        if (value.startsWith(QLatin1Char('@'))) {
            QFile file(value.mid(1));
            if (!file.open(QIODevice::ReadOnly))
                return fail(SimToolExit::Failed,
                            QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString()));
            text = QString::fromUtf8(file.readAll());
        }
        return changeConfig(device, [&](SimDeviceConfig& config) { config.params = text; });
    }

    int delay(const SimDevice& device, const QStringList& args) {
        if (args.size() != 1)
            return usage(QStringLiteral("delay needs milliseconds or off"));
        if (args.first().compare(QStringLiteral("off"), Qt::CaseInsensitive) == 0)
            return changeConfig(device, [](SimDeviceConfig& config) { config.exposureDelayMs.reset(); });
        const std::optional<int> ms = parseInt(args.first(), 0);
        if (!ms)
            return usage(QStringLiteral("delay needs milliseconds (0 or more) or off"));
        return changeConfig(device, [&](SimDeviceConfig& config) { config.exposureDelayMs = *ms; });
    }

    int stage(const SimDevice& device, const QStringList& args) {
        const std::optional<int> ms = args.size() == 1 ? parseInt(args.first(), 0) : std::nullopt;
        if (!ms)
            return usage(QStringLiteral("stage needs milliseconds (0 or more)"));
        return changeConfig(device, [&](SimDeviceConfig& config) { config.stageMs = *ms; });
    }

    int seed(const SimDevice& device, const QStringList& args) {
        bool ok = false;
        const quint32 value = args.size() == 1 ? args.first().toUInt(&ok) : 0;
        if (!ok)
            return usage(QStringLiteral("seed needs a whole number of 0 or more"));
        return changeConfig(device, [&](SimDeviceConfig& config) { config.seed = value; });
    }

    int add(const QStringList& args) {
        if (args.size() < 2 || args.size() > 3)
            return usage(QStringLiteral("add needs an address, a type and optionally a model"));
        const std::optional<int> type = parseInt(args.at(1), 1);
        if (!type || *type > 12)
            return usage(QStringLiteral("the type must be 1 to 12"));
        if (!SimCatalogue::isValidAddress(args.at(0)))
            return usage(
                QStringLiteral(
                    "invalid address \"%1\": letters, digits, \".\", \"-\", \"_\", \":\", not a bare number")
                    .arg(args.at(0)));
        const QString error = m_catalogue.add(SimDevice{*type, args.at(0), args.value(2)});
        if (!error.isEmpty())
            return fail(SimToolExit::Refused, error);
        return SimToolExit::Done;
    }

    int remove(const SimDevice& device) {
        const SimDeviceFolder folder = folderOf(device);
        if (folder.isOpen())
            return fail(SimToolExit::Refused,
                        QStringLiteral("%1 is open by pid %2").arg(device.address).arg(folder.openedBy()));
        const QString error = m_catalogue.remove(device.address);
        if (!error.isEmpty())
            return fail(SimToolExit::Failed, error);
        QDir(folder.path()).removeRecursively();
        return SimToolExit::Done;
    }

    int hold(const SimDevice& device, QStringList args) {
        QString workDir;
        QString store;
        qint32 imageFormat = 8 * 65536 + SimFormat::Dib;
        while (!args.isEmpty()) {
            const QString option = args.takeFirst();
            if (args.isEmpty())
                return usage(QStringLiteral("hold: %1 needs a value").arg(option));
            const QString value = args.takeFirst();
            if (option == QStringLiteral("--workdir")) {
                workDir = value;
            } else if (option == QStringLiteral("--arm")) {
                store = QFileInfo(value).absoluteFilePath();
            } else if (option == QStringLiteral("--format")) {
                const std::optional<qint32> format = parseFormatName(value);
                if (!format)
                    return usage(QStringLiteral("hold: unknown format \"%1\"").arg(value));
                imageFormat = *format;
            } else {
                return usage(QStringLiteral("hold: unknown option \"%1\"").arg(option));
            }
        }
        if (!QCoreApplication::instance())
            return fail(SimToolExit::Failed, QStringLiteral("hold needs the program's event loop"));
        TSimulatedDsd control(nullptr, m_catalogue.folder());
        const qint32 opened = control.OpenDevice(device, workDir);
        if (opened != ScannerCode::Ok)
            return fail(SimToolExit::Refused,
                        QStringLiteral("cannot open %1: %2").arg(device.address, ScannerStatusWord(opened)));
        m_out << "opened " << device.address << " pid " << QCoreApplication::applicationPid() << Qt::endl;
        if (!store.isEmpty()) {
            for (const qint32 code : {control.SetImageFormat(imageFormat), control.SetImageStore(store),
                                      control.ActivateScan(0)}) {
                if (code != ScannerCode::Ok)
                    return fail(
                        SimToolExit::Refused,
                        QStringLiteral("cannot arm %1: %2").arg(device.address, ScannerStatusWord(code)));
            }
            m_out << "armed " << store << Qt::endl;
        }
        QObject::connect(&control, &TDsd::OnEndOfImage, &control,
                         [this](QObject*, int status) { m_out << "end-of-image " << status << Qt::endl; });
        // Held until the process is ended; the kernel then releases the device.
        return QCoreApplication::exec();
    }

    QTextStream& m_out;
    QTextStream& m_err;
    SimCatalogue m_catalogue;
};

} // namespace

QString SimToolUsage() {
    return kUsage;
}

int RunSimTool(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    SimTool tool(out, err);
    const int code = tool.run(arguments);
    out.flush();
    err.flush();
    return code;
}
