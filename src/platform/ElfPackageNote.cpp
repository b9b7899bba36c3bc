#include "platform/ElfPackageNote.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>

namespace platform {

namespace {

constexpr quint32 kPtNote = 4;
constexpr quint32 kShtNote = 7;
constexpr quint8 kClass32 = 1;
constexpr quint8 kClass64 = 2;
constexpr quint8 kLittleEndian = 1;
constexpr quint8 kBigEndian = 2;
constexpr quint64 kNoteHeaderSize = 12;
// Notes are small; a region larger than this is not read whole, and no file makes the reader
// read more than the budget in all, however many note headers it claims to have.
constexpr quint64 kMaxNoteRegion = 1 << 20;
constexpr quint64 kReadBudget = 8 << 20;
const QByteArray kOwner("FDO\0", 4);
const QString kVersionInfoKey = QStringLiteral("versionInfo");

// The fields of the ELF header that lead to the notes.
struct ElfHeader {
    bool is64 = false;
    bool bigEndian = false;
    quint64 programHeaders = 0;
    quint16 programHeaderSize = 0;
    quint32 programHeaderCount = 0;
    quint64 sectionHeaders = 0;
    quint16 sectionHeaderSize = 0;
    quint64 sectionHeaderCount = 0;
};

// A region of notes in the file and the alignment of the notes in it.
struct NoteRegion {
    quint64 offset = 0;
    quint64 size = 0;
    quint64 align = 4;
};

class ElfFile {
public:
    explicit ElfFile(QIODevice& device)
        : m_device(device)
        , m_size(quint64(qMax<qint64>(device.size(), 0))) {}

    std::optional<QByteArray> packageNote() {
        const std::optional<ElfHeader> header = readHeader();
        if (!header)
            return std::nullopt;
        m_header = *header;
        for (const auto& regions : {noteSegments(), noteSections()}) {
            for (const NoteRegion& region : regions) {
                if (std::optional<QByteArray> payload = packageNoteIn(region))
                    return payload;
            }
        }
        return std::nullopt;
    }

private:
    // `length` bytes at `offset`, or nothing when they do not all lie within the file or the
    // read budget is spent.
    std::optional<QByteArray> bytes(quint64 offset, quint64 length) {
        if (offset > m_size || length > m_size - offset || length > m_budget)
            return std::nullopt;
        m_budget -= length;
        if (!m_device.seek(qint64(offset)))
            return std::nullopt;
        QByteArray data = m_device.read(qint64(length));
        if (quint64(data.size()) != length)
            return std::nullopt;
        return data;
    }

    quint16 u16(const QByteArray& data, qsizetype at) const {
        return m_header.bigEndian ? qFromBigEndian<quint16>(data.constData() + at)
                                  : qFromLittleEndian<quint16>(data.constData() + at);
    }
    quint32 u32(const QByteArray& data, qsizetype at) const {
        return m_header.bigEndian ? qFromBigEndian<quint32>(data.constData() + at)
                                  : qFromLittleEndian<quint32>(data.constData() + at);
    }
    quint64 u64(const QByteArray& data, qsizetype at) const {
        return m_header.bigEndian ? qFromBigEndian<quint64>(data.constData() + at)
                                  : qFromLittleEndian<quint64>(data.constData() + at);
    }
    // A word that is 32 bits wide in 32-bit files and 64 bits in 64-bit files.
    quint64 word(const QByteArray& data, qsizetype at32, qsizetype at64) const {
        return m_header.is64 ? u64(data, at64) : u32(data, at32);
    }

    std::optional<ElfHeader> readHeader() {
        const std::optional<QByteArray> ident = bytes(0, 16);
        if (!ident || !ident->startsWith("\x7f"
                                         "ELF"))
            return std::nullopt;
        const quint8 elfClass = quint8(ident->at(4));
        const quint8 byteOrder = quint8(ident->at(5));
        if ((elfClass != kClass32 && elfClass != kClass64) ||
            (byteOrder != kLittleEndian && byteOrder != kBigEndian))
            return std::nullopt;
        m_header.is64 = elfClass == kClass64;
        m_header.bigEndian = byteOrder == kBigEndian;
        const std::optional<QByteArray> data = bytes(0, m_header.is64 ? 64 : 52);
        if (!data)
            return std::nullopt;
        ElfHeader header = m_header;
        header.programHeaders = word(*data, 28, 32);
        header.sectionHeaders = word(*data, 32, 40);
        header.programHeaderSize = u16(*data, m_header.is64 ? 54 : 42);
        header.programHeaderCount = u16(*data, m_header.is64 ? 56 : 44);
        header.sectionHeaderSize = u16(*data, m_header.is64 ? 58 : 46);
        header.sectionHeaderCount = u16(*data, m_header.is64 ? 60 : 48);
        return header;
    }

    static quint64 noteAlignment(quint64 declared) { return declared == 8 ? 8 : 4; }

    QList<NoteRegion> noteSegments() {
        QList<NoteRegion> regions;
        const quint64 entrySize = m_header.is64 ? 56 : 32;
        if (m_header.programHeaders == 0 || m_header.programHeaderSize < entrySize)
            return regions;
        for (quint32 i = 0; i < m_header.programHeaderCount; ++i) {
            const std::optional<QByteArray> entry =
                bytes(m_header.programHeaders + quint64(i) * m_header.programHeaderSize, entrySize);
            if (!entry)
                break;
            if (u32(*entry, 0) != kPtNote)
                continue;
            regions.append({word(*entry, 4, 8), word(*entry, 16, 32), noteAlignment(word(*entry, 28, 48))});
        }
        return regions;
    }

    QList<NoteRegion> noteSections() {
        QList<NoteRegion> regions;
        const quint64 entrySize = m_header.is64 ? 64 : 40;
        if (m_header.sectionHeaders == 0 || m_header.sectionHeaderSize < entrySize)
            return regions;
        quint64 count = m_header.sectionHeaderCount;
        if (count == 0) {
            // More sections than the header can count: the first entry's size holds the number.
            const std::optional<QByteArray> first = bytes(m_header.sectionHeaders, entrySize);
            if (!first)
                return regions;
            count = word(*first, 20, 32);
        }
        for (quint64 i = 0; i < count; ++i) {
            const std::optional<QByteArray> entry =
                bytes(m_header.sectionHeaders + i * m_header.sectionHeaderSize, entrySize);
            if (!entry)
                break;
            if (u32(*entry, 4) != kShtNote)
                continue;
            regions.append({word(*entry, 16, 24), word(*entry, 20, 32), noteAlignment(word(*entry, 32, 48))});
        }
        return regions;
    }

    static quint64 alignUp(quint64 value, quint64 align) { return (value + align - 1) & ~(align - 1); }

    std::optional<QByteArray> packageNoteIn(const NoteRegion& region) {
        const std::optional<QByteArray> data = bytes(region.offset, qMin(region.size, kMaxNoteRegion));
        if (!data)
            return std::nullopt;
        const quint64 size = quint64(data->size());
        quint64 at = 0;
        while (size - at >= kNoteHeaderSize) {
            const quint64 nameSize = u32(*data, qsizetype(at));
            const quint64 descSize = u32(*data, qsizetype(at + 4));
            const quint32 type = u32(*data, qsizetype(at + 8));
            // Sizes are 32-bit, so these sums cannot overflow 64 bits.
            const quint64 descAt = alignUp(at + kNoteHeaderSize + nameSize, region.align);
            if (at + kNoteHeaderSize + nameSize > size || descAt > size || descSize > size - descAt)
                return std::nullopt;
            if (type == kPackageNoteType &&
                data->mid(qsizetype(at + kNoteHeaderSize), qsizetype(nameSize)) == kOwner) {
                QByteArray payload = data->mid(qsizetype(descAt), qsizetype(descSize));
                while (payload.endsWith('\0'))
                    payload.chop(1);
                return payload;
            }
            at = alignUp(descAt + descSize, region.align);
        }
        return std::nullopt;
    }

    QIODevice& m_device;
    const quint64 m_size;
    quint64 m_budget = kReadBudget;
    ElfHeader m_header;
};

} // namespace

std::optional<QByteArray> readPackageNote(QIODevice& file) {
    if (!file.isOpen() || file.isSequential())
        return std::nullopt;
    return ElfFile(file).packageNote();
}

std::optional<QHash<QString, QString>> versionStringsOfPackageNote(const QByteArray& payload) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonValue versionInfo = document.object().value(kVersionInfoKey);
    if (!versionInfo.isObject())
        return std::nullopt;
    QHash<QString, QString> strings;
    const QJsonObject object = versionInfo.toObject();
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (it.value().isString())
            strings.insert(it.key(), it.value().toString());
    }
    return strings;
}

std::optional<QHash<QString, QString>> ElfFileVersionReader::versionStrings(const QString& fileName) {
    // Only a regular file: a pipe or a device could block the reader or never end.
    if (fileName.isEmpty() || !QFileInfo(fileName).isFile())
        return std::nullopt;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const std::optional<QByteArray> payload = readPackageNote(file);
    if (!payload)
        return std::nullopt;
    return versionStringsOfPackageNote(*payload);
}

QString ElfFileVersionReader::ownProgramFile() {
    return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
}

std::unique_ptr<FileVersionReader> FileVersionReader::makeDefault() {
    return std::make_unique<ElfFileVersionReader>();
}

} // namespace platform
