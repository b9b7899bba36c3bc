#include "FuzzSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace fuzz {

QByteArray bytesOf(const std::uint8_t* data, std::size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

void require(bool condition, const char* what) {
    if (condition)
        return;
    std::fprintf(stderr, "fuzz property broken: %s\n", what);
    std::abort();
}

QString scratchFolder() {
    static const std::unique_ptr<QTemporaryDir> folder = [] {
        const QString memory = QStringLiteral("/dev/shm");
        const QString base = QFileInfo(memory).isWritable() ? memory : QDir::tempPath();
        auto dir = std::make_unique<QTemporaryDir>(base + QStringLiteral("/ravlek-fuzz-XXXXXX"));
        require(dir->isValid(), "a scratch folder can be made");
        return dir;
    }();
    return folder->path();
}

void isolateInstallation() {
    const QString root = scratchFolder();
    const auto folder = [&root](const char* name) {
        const QString path = root + QLatin1Char('/') + QLatin1String(name);
        QDir().mkpath(path);
        return path.toLocal8Bit();
    };
    qputenv("XDG_CONFIG_HOME", folder("config"));
    qputenv("XDG_DATA_HOME", folder("data"));
    const QByteArray runtime = folder("runtime");
    QFile::setPermissions(QString::fromLocal8Bit(runtime),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime);
    qputenv("KELVO_MACHINE_DIR", folder("machine"));
    qputenv("KELVO_SIM_DIR", folder("sim"));
    qputenv("KELVO_COMPUTERNAME", "FUZZPC");
}

void ensureApplication() {
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "ravlek-fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
}

QString asReadBack(const QString& value) {
    const QString trimmed = value.trimmed();
    if (trimmed.size() >= 2 &&
        (trimmed.front() == QLatin1Char('"') || trimmed.front() == QLatin1Char('\'')) &&
        trimmed.back() == trimmed.front())
        return trimmed.mid(1, trimmed.size() - 2);
    return trimmed;
}

} // namespace fuzz
