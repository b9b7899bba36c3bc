#pragma once

// Small ELF files made by the tests: a header, one note segment and one note section holding
// the notes given, in 32 or 64 bits and either byte order. Enough for the version reader,
// which looks at nothing else.

#include <QByteArray>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QtEndian>

namespace elftest {

inline constexpr quint32 kPackageNoteType = 0xcafe1a7e;
inline constexpr quint32 kBuildIdNoteType = 3;

struct Note {
    QByteArray owner; // with its terminating NUL, as the file holds it
    quint32 type = 0;
    QByteArray desc;
};

// The package-metadata note with `versionInfo` as its version strings.
inline Note packageNote(const QHash<QString, QString>& versionInfo) {
    QJsonObject strings;
    for (auto it = versionInfo.cbegin(); it != versionInfo.cend(); ++it)
        strings.insert(it.key(), it.value());
    const QJsonObject payload{{QStringLiteral("name"), QStringLiteral("test")},
                              {QStringLiteral("version"), QStringLiteral("1")},
                              {QStringLiteral("versionInfo"), strings}};
    return {QByteArray("FDO\0", 4), kPackageNoteType,
            QJsonDocument(payload).toJson(QJsonDocument::Compact) + '\0'};
}

// A GNU build-id note, as real programs have before anything else.
inline Note buildIdNote() {
    return {QByteArray("GNU\0", 4), kBuildIdNoteType, QByteArray(20, '\x5a')};
}

struct ElfFile {
    bool is64 = true;
    bool bigEndian = false;
    bool withSegment = true; // a PT_NOTE program header over the notes
    bool withSection = true; // an SHT_NOTE section header over the notes
    quint64 align = 4;
    QList<Note> notes;

    QByteArray build() const {
        const quint64 headerSize = is64 ? 64 : 52;
        const quint64 phEntry = is64 ? 56 : 32;
        const quint64 shEntry = is64 ? 64 : 40;
        const QByteArray noteData = notesBlock();
        const quint64 phOffset = headerSize;
        const quint64 phCount = withSegment ? 1 : 0;
        const quint64 notesOffset = alignUp(phOffset + phCount * phEntry, 8);
        const quint64 shOffset = alignUp(notesOffset + quint64(noteData.size()), 8);
        const quint64 shCount = withSection ? 2 : 0; // the null section, then the notes

        QByteArray file;
        file.append("\x7f"
                    "ELF",
                    4);
        file.append(char(is64 ? 2 : 1));
        file.append(char(bigEndian ? 2 : 1));
        file.append(char(1));
        file.append(QByteArray(9, '\0'));
        u16(file, 2);  // e_type: executable
        u16(file, 62); // e_machine
        u32(file, 1);  // e_version
        word(file, 0); // e_entry
        word(file, withSegment ? phOffset : 0);
        word(file, withSection ? shOffset : 0);
        u32(file, 0); // e_flags
        u16(file, quint16(headerSize));
        u16(file, quint16(phEntry));
        u16(file, quint16(phCount));
        u16(file, quint16(shEntry));
        u16(file, quint16(shCount));
        u16(file, 0); // e_shstrndx

        if (withSegment) {
            u32(file, 4); // PT_NOTE
            if (is64)
                u32(file, 4); // p_flags: readable
            word(file, notesOffset);
            word(file, notesOffset); // p_vaddr
            word(file, notesOffset); // p_paddr
            word(file, quint64(noteData.size()));
            word(file, quint64(noteData.size()));
            if (!is64)
                u32(file, 4);
            word(file, align);
        }
        file.append(QByteArray(qsizetype(notesOffset) - file.size(), '\0'));
        file.append(noteData);
        file.append(QByteArray(qsizetype(shOffset) - file.size(), '\0'));
        if (withSection) {
            file.append(QByteArray(qsizetype(shEntry), '\0'));
            u32(file, 0);  // sh_name
            u32(file, 7);  // SHT_NOTE
            word(file, 2); // sh_flags: allocated
            word(file, notesOffset);
            word(file, notesOffset);
            word(file, quint64(noteData.size()));
            u32(file, 0);
            u32(file, 0);
            word(file, align);
            word(file, 0);
        }
        return file;
    }

private:
    static quint64 alignUp(quint64 value, quint64 to) { return (value + to - 1) / to * to; }

    QByteArray notesBlock() const {
        QByteArray block;
        for (const Note& note : notes) {
            const qsizetype start = block.size();
            u32(block, quint32(note.owner.size()));
            u32(block, quint32(note.desc.size()));
            u32(block, note.type);
            block.append(note.owner);
            block.append(QByteArray(
                qsizetype(alignUp(quint64(block.size() - start), align)) - (block.size() - start), '\0'));
            block.append(note.desc);
            block.append(QByteArray(
                qsizetype(alignUp(quint64(block.size() - start), align)) - (block.size() - start), '\0'));
        }
        return block;
    }

    template <typename T> void put(QByteArray& out, T value) const {
        char bytes[sizeof(T)];
        if (bigEndian)
            qToBigEndian(value, bytes);
        else
            qToLittleEndian(value, bytes);
        out.append(bytes, sizeof(T));
    }
    void u16(QByteArray& out, quint16 value) const { put(out, value); }
    void u32(QByteArray& out, quint32 value) const { put(out, value); }
    void word(QByteArray& out, quint64 value) const {
        if (is64)
            put(out, value);
        else
            put(out, quint32(value));
    }
};

} // namespace elftest
