#include "sound/ReadySound.h"

#include "sound/WavPlayer.h"

#include <QBuffer>
#include <QFile>

// The resources of a static library must be registered by name before their first use.
static void initSoundResources() {
    Q_INIT_RESOURCE(sound);
}

QByteArray ReadySoundRecord() {
    initSoundResources();
    QFile record(QStringLiteral(":/sound/Scanner_Ready.wavrec"));
    if (!record.open(QIODevice::ReadOnly))
        return {};
    return record.readAll();
}

void LoadReadySound(TWavPlayer& player) {
    player.setAsynchronous(true);
    player.setLooped(false);
    player.setSoundType(TacWavPlayerSndType::stCustom);
    QByteArray record = ReadySoundRecord();
    QBuffer stream(&record);
    stream.open(QIODevice::ReadOnly);
    player.WaveSound().ReadData(stream);
}
