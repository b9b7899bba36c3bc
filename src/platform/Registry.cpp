#include "platform/Registry.h"

#include "platform/RegFileRegistry.h"

#include <QtEndian>

namespace platform {

namespace {

QByteArray utf16Bytes(QStringView text) {
    if (text.isEmpty())
        return {}; // an empty view may have no data to copy from
    QByteArray bytes(text.size() * 2, Qt::Uninitialized);
    qToLittleEndian<char16_t>(text.utf16(), text.size(), bytes.data());
    return bytes;
}

const QByteArray kNul(2, '\0');

} // namespace

RegValue RegValue::ofText(const QString& name, const QString& text, RegType type) {
    return {name, type, utf16Bytes(text) + kNul};
}

RegValue RegValue::ofTexts(const QString& name, const QStringList& texts) {
    QByteArray data;
    for (const QString& text : texts)
        data += utf16Bytes(text) + kNul;
    return {name, RegType::MultiString, data + kNul};
}

RegValue RegValue::ofDWord(const QString& name, quint32 number) {
    QByteArray data(sizeof number, '\0');
    qToLittleEndian(number, data.data());
    return {name, RegType::DWord, data};
}

RegValue RegValue::ofQWord(const QString& name, quint64 number) {
    QByteArray data(sizeof number, '\0');
    qToLittleEndian(number, data.data());
    return {name, RegType::QWord, data};
}

RegValue RegValue::ofBytes(const QString& name, RegType type, const QByteArray& data) {
    return {name, type, data};
}

QString RegValue::text() const {
    QString text;
    text.reserve((data.size() + 1) / 2);
    for (qsizetype i = 0; i < data.size(); i += 2) {
        const char16_t high = i + 1 < data.size() ? char16_t(uchar(data[i + 1])) : 0;
        text.append(QChar(char16_t(uchar(data[i]) | high << 8)));
    }
    if (text.endsWith(QChar(u'\0')))
        text.chop(1);
    return text;
}

quint32 RegValue::dword() const {
    if (type != RegType::DWord || data.size() != sizeof(quint32))
        return 0;
    return qFromLittleEndian<quint32>(data.constData());
}

QString hiveName(Hive hive) {
    return hive == Hive::CurrentUser ? QStringLiteral("HKEY_CURRENT_USER")
                                     : QStringLiteral("HKEY_LOCAL_MACHINE");
}

RegResult Registry::apply(Hive hive, const QList<RegChange>& changes, bool everyoneMayWrite) {
    for (const RegChange& change : changes) {
        RegResult result;
        switch (change.kind) {
        case RegChange::Kind::CreateKey:
            result = createKey(hive, change.keyPath, everyoneMayWrite);
            break;
        case RegChange::Kind::SetValue:
            result = setValue(hive, change.keyPath, change.value, everyoneMayWrite);
            break;
        case RegChange::Kind::DeleteValue:
            if (value(hive, change.keyPath, change.value.name))
                result = deleteValue(hive, change.keyPath, change.value.name);
            break;
        case RegChange::Kind::DeleteKey:
            if (keyExists(hive, change.keyPath))
                result = deleteKey(hive, change.keyPath);
            break;
        }
        if (!result.ok)
            return result;
    }
    return {};
}

RegResult Registry::hiveStatus(Hive) {
    return {};
}

std::optional<DamagedHive> Registry::keepDamagedHiveAside(Hive) {
    return std::nullopt;
}

std::unique_ptr<Registry> Registry::makeDefault() {
    return std::make_unique<RegFileRegistry>();
}

} // namespace platform
