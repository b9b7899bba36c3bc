#include "scanner/DSDLib_TLB.h"

#include <QHash>

TDsd::TDsd(QObject* parent)
    : QObject(parent) {}

TDsd::~TDsd() = default;

ScannerControlError::ScannerControlError(const QString& text)
    : std::runtime_error(text.toStdString())
    , m_text(text) {}

namespace {

QHash<QString, ScannerControlCreator>& creators() {
    static QHash<QString, ScannerControlCreator> table;
    return table;
}

QString normalisedClassId(const QString& classId) {
    return classId.trimmed().toUpper();
}

} // namespace

ScannerControlCreator RegisterScannerControl(const QString& classId, ScannerControlCreator creator) {
    ScannerControlCreator previous = creators().take(normalisedClassId(classId));
    if (creator)
        creators().insert(normalisedClassId(classId), std::move(creator));
    return previous;
}

void UnregisterScannerControl(const QString& classId) {
    creators().remove(normalisedClassId(classId));
}

std::unique_ptr<TDsd> CreateScannerControl(const QString& classId, QObject* parent) {
    const auto found = creators().constFind(normalisedClassId(classId));
    // The words Windows gives for a class id that nothing registered.
    if (found == creators().cend())
        throw ScannerControlError(QStringLiteral("Class not registered"));
    std::unique_ptr<TDsd> control;
    try {
        control = found.value()(parent);
    } catch (const ScannerControlError&) {
        throw;
    } catch (const std::exception& failure) {
        throw ScannerControlError(QString::fromLocal8Bit(failure.what()));
    }
    if (!control)
        throw ScannerControlError(QStringLiteral("The scanner control could not be created"));
    return control;
}
