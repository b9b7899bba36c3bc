#include "sound/FileStorage.h"
#include "sound/ReadySound.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QtEndian>
#include <QtTest>

#include <zlib.h>

namespace {

QByteArray le32(quint32 value) {
    char bytes[4];
    qToLittleEndian(value, bytes);
    return QByteArray(bytes, 4);
}

QByteArray zlibStream(const QByteArray& data) {
    uLongf length = compressBound(uLong(data.size()));
    QByteArray out(qsizetype(length), Qt::Uninitialized);
    compress2(reinterpret_cast<Bytef*>(out.data()), &length, reinterpret_cast<const Bytef*>(data.constData()),
              uLong(data.size()), 9);
    out.truncate(qsizetype(length));
    return out;
}

QByteArray record(const QByteArray& name, const QByteArray& body) {
    return le32(quint32(name.size())) + name + le32(quint32(body.size())) + body;
}

QByteArray writeRecord(const TStoredFile& file) {
    QByteArray bytes;
    QBuffer stream(&bytes);
    stream.open(QIODevice::WriteOnly);
    if (!file.WriteData(stream))
        return {};
    return bytes;
}

// A stream without a known end or position, as a socket or pipe would be.
class SequentialStream : public QIODevice {
public:
    explicit SequentialStream(const QByteArray& bytes)
        : m_bytes(bytes) {
        open(QIODevice::ReadOnly);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        const qint64 count = std::min<qint64>(maxSize, m_bytes.size() - m_position);
        if (count > 0)
            memcpy(data, m_bytes.constData() + m_position, size_t(count));
        m_position += count;
        return count;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    qint64 m_position = 0;
};

quint16 le16At(const QByteArray& bytes, qsizetype offset) {
    return qFromLittleEndian<quint16>(bytes.constData() + offset);
}

quint32 le32At(const QByteArray& bytes, qsizetype offset) {
    return qFromLittleEndian<quint32>(bytes.constData() + offset);
}

} // namespace

class TestFileStorage : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void roundTrip_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("data");
        QByteArray noise(200 * 1024, Qt::Uninitialized);
        QRandomGenerator generator(7);
        for (char& byte : noise)
            byte = char(generator.bounded(256));
        QTest::newRow("wave name") << QByteArray("Scanner_Ready.wav")
                                   << QByteArray("RIFF\0\0\0\0WAVEfmt ", 16);
        QTest::newRow("8-bit name") << QByteArray("Kl\xe5nk.wav") << QByteArray(1000, 'a');
        QTest::newRow("no name") << QByteArray() << QByteArray("\x00\x01\x02\xff", 4);
        QTest::newRow("incompressible") << QByteArray("noise.wav") << noise;
        QTest::newRow("empty data") << QByteArray("silence.wav") << QByteArray();
    }
    void roundTrip() {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, data);
        TStoredFile original;
        original.setFileName(name);
        original.setData(data);
        const QByteArray bytes = writeRecord(original);

        QCOMPARE(le32At(bytes, 0), quint32(name.size()));
        QCOMPARE(bytes.mid(4, name.size()), name);
        QCOMPARE(le32At(bytes, 4 + name.size()), quint32(bytes.size() - 8 - name.size()));
        QCOMPARE(bytes.mid(8 + name.size(), 2), QByteArray("\x78\xda")); // zlib, best compression

        TStoredFile copy;
        QBuffer stream;
        stream.setData(bytes);
        stream.open(QIODevice::ReadOnly);
        QVERIFY(copy.ReadData(stream));
        QCOMPARE(copy.FileName(), name);
        QCOMPARE(copy.Data(), data);
        QCOMPARE(copy.Size(), quint32(data.size()));
        QVERIFY(stream.atEnd());
    }

    void readsOneRecordOfSeveral() {
        TStoredFile first;
        first.setFileName("a.wav");
        first.setData("first data");
        TStoredFile second;
        second.setFileName("b.wav");
        second.setData("second data");
        SequentialStream stream(writeRecord(first) + writeRecord(second));

        TStoredFile read;
        QVERIFY(read.ReadData(stream));
        QCOMPARE(read.FileName(), QByteArray("a.wav"));
        QCOMPARE(read.Data(), QByteArray("first data"));
        QVERIFY(read.ReadData(stream));
        QCOMPARE(read.FileName(), QByteArray("b.wav"));
        QCOMPARE(read.Data(), QByteArray("second data"));
    }

    void emptyBodyKeepsName() {
        TStoredFile file;
        file.setData("old data");
        QBuffer stream;
        stream.setData(record("Scanner_Ready.wav", {}));
        stream.open(QIODevice::ReadOnly);
        QVERIFY(file.ReadData(stream));
        QCOMPARE(file.FileName(), QByteArray("Scanner_Ready.wav"));
        QCOMPARE(file.Size(), 0u);
        QVERIFY(file.Data().isEmpty());
    }

    void damagedRecordReadsEmpty_data() {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray body = zlibStream("the sound itself");
        QTest::newRow("nothing") << QByteArray();
        QTest::newRow("half a length") << QByteArray("\x05\x00", 2);
        QTest::newRow("name cut short") << le32(9) + QByteArray("abc");
        QTest::newRow("name length beyond everything") << le32(0xffffffffu) + QByteArray("abc") + le32(0);
        QTest::newRow("body length missing") << le32(3) + QByteArray("abc");
        QTest::newRow("body length cut short") << le32(3) + QByteArray("abc") + QByteArray("\x10\x00", 2);
        QTest::newRow("body length beyond the data")
            << le32(3) + QByteArray("abc") + le32(quint32(body.size() + 1)) + body;
        QTest::newRow("body length at the maximum") << le32(3) + QByteArray("abc") + le32(0xffffffffu) + body;
        QTest::newRow("body cut short") << record("abc", body.left(body.size() / 2));
        QTest::newRow("body not zlib") << record("abc", "this is no zlib stream at all");
        QTest::newRow("bytes after the stream") << record("abc", body + "xx");
        QTest::newRow("inflates beyond the limit")
            << record("bomb.wav", zlibStream(QByteArray(TStoredFile::MaxDataSize + 1, '\0')));
    }
    void damagedRecordReadsEmpty() {
        QFETCH(QByteArray, bytes);
        TStoredFile file;
        file.setFileName("before.wav");
        file.setData("before");
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        QVERIFY(!file.ReadData(buffer));
        QVERIFY(file.FileName().isEmpty());
        QCOMPARE(file.Size(), 0u);
        QVERIFY(file.Data().isEmpty());

        file.setData("before");
        SequentialStream sequential(bytes);
        QVERIFY(!file.ReadData(sequential));
        QVERIFY(file.Data().isEmpty());
    }

    void dataAtTheLimitReads() {
        TStoredFile file;
        file.setFileName("big.wav");
        file.setData(QByteArray(TStoredFile::MaxDataSize, 'x'));
        QBuffer stream;
        stream.setData(writeRecord(file));
        stream.open(QIODevice::ReadOnly);
        TStoredFile copy;
        QVERIFY(copy.ReadData(stream));
        QCOMPARE(copy.Size(), quint32(TStoredFile::MaxDataSize));
    }

    void writeRefusesWhatCannotBeReadBack() {
        TStoredFile file;
        file.setData(QByteArray(TStoredFile::MaxDataSize + 1, 'x'));
        QByteArray bytes;
        QBuffer stream(&bytes);
        stream.open(QIODevice::WriteOnly);
        QVERIFY(!file.WriteData(stream));
        QVERIFY(bytes.isEmpty());
    }

    void clearData() {
        TStoredFile file;
        file.setFileName("x.wav");
        file.setData("data");
        file.ClearData();
        QVERIFY(file.FileName().isEmpty());
        QCOMPARE(file.Size(), 0u);
        QVERIFY(file.Data().isEmpty());
    }

    void readySoundIsAPcmWave() {
        QBuffer stream;
        stream.setData(ReadySoundRecord());
        stream.open(QIODevice::ReadOnly);
        TStoredFile sound;
        QVERIFY(sound.ReadData(stream));
        QVERIFY(stream.atEnd());
        QCOMPARE(sound.FileName(), QByteArray("Scanner_Ready.wav"));

        const QByteArray wave = sound.Data();
        QVERIFY(wave.size() > 44);
        QCOMPARE(wave.left(4), QByteArray("RIFF"));
        QCOMPARE(le32At(wave, 4), quint32(wave.size() - 8));
        QCOMPARE(wave.mid(8, 8), QByteArray("WAVEfmt "));
        QCOMPARE(le16At(wave, 20), quint16(1)); // PCM
        QCOMPARE(le16At(wave, 22), quint16(1)); // mono
        QCOMPARE(le32At(wave, 24), 22050u);
        QCOMPARE(le16At(wave, 34), quint16(16));
        QCOMPARE(wave.mid(36, 4), QByteArray("data"));
        const quint32 dataBytes = le32At(wave, 40);
        QCOMPARE(dataBytes, quint32(wave.size() - 44));
        const double seconds = dataBytes / 2 / 22050.0;
        QVERIFY2(seconds > 0.2 && seconds < 0.6, qPrintable(QString::number(seconds)));
    }
};

QTEST_GUILESS_MAIN(TestFileStorage)
#include "tst_filestorage.moc"
