// The stored sound record of the wave player: name length, name, body length and a zlib
// body. The input is the record, read from memory and from a stream without a known end.

#include "FuzzSupport.h"

#include "platform/SoundSystem.h"
#include "sound/FileStorage.h"
#include "sound/WavPlayer.h"

#include <QBuffer>

namespace {

// A stream that gives its bytes in pieces of a few bytes and knows no end in advance,
// as a pipe or a socket would.
class TrickleDevice : public QIODevice {
public:
    explicit TrickleDevice(const QByteArray& bytes)
        : m_bytes(bytes) {
        open(QIODevice::ReadOnly);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        const qint64 piece = std::min<qint64>({maxSize, 7, m_bytes.size() - m_at});
        std::copy_n(m_bytes.constData() + m_at, piece, data);
        m_at += piece;
        return piece;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    qint64 m_at = 0;
};

// Takes the player's sound without making one.
class SilentSoundSystem : public platform::SoundSystem {
public:
    bool playWave(const QByteArray& wave, quint32) override {
        played = wave;
        return true;
    }
    bool playEvent(const QString&, quint32) override { return true; }
    void stop() override {}

    QByteArray played;
};

bool sameRecord(const TStoredFile& a, const TStoredFile& b) {
    return a.FileName() == b.FileName() && a.Data() == b.Data();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QByteArray bytes = fuzz::bytesOf(data, size);

    TStoredFile fromMemory;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    const bool read = fromMemory.ReadData(buffer);
    fuzz::require(read || (fromMemory.FileName().isEmpty() && fromMemory.Size() == 0),
                  "a record that cannot be read gives an empty file");
    fuzz::require(fromMemory.Size() <= TStoredFile::MaxDataSize, "a record inflates to no more than allowed");

    TStoredFile fromStream;
    TrickleDevice stream(bytes);
    fuzz::require(fromStream.ReadData(stream) == read && sameRecord(fromStream, fromMemory),
                  "a stream without a known end reads as the same bytes in memory");

    if (read) {
        QByteArray written;
        QBuffer out(&written);
        out.open(QIODevice::WriteOnly);
        fuzz::require(fromMemory.WriteData(out), "a record that was read can be written");
        out.close();
        out.open(QIODevice::ReadOnly);
        TStoredFile again;
        fuzz::require(again.ReadData(out) && sameRecord(again, fromMemory), "a written record reads back");
    }

    // The player plays exactly the stored bytes.
    SilentSoundSystem sound;
    platform::ScopedPort<platform::SoundSystem> port(sound);
    TWavPlayer player(nullptr);
    player.WaveSound() = fromMemory;
    player.setAsynchronous(false);
    player.Play();
    fuzz::require(sound.played == fromMemory.Data(), "the player plays the stored sound");
    return 0;
}
