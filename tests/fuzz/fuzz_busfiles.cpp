// The files of the window bus that other programs write: the table of message numbers, the
// entry files of windows and the files of global atoms. The input is read as each.

#include "FuzzSupport.h"

#include "platform/LocalWindowBus.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

using platform::LocalWindowBus;
namespace buswire = platform::buswire;

namespace {

void checkTable(const QByteArray& bytes) {
    buswire::MessageTable table;
    const qsizetype complete = buswire::parseMessageTable(bytes, &table);
    fuzz::require(complete >= 0 && complete <= bytes.size(), "the complete part lies within the table");
    fuzz::require(complete == 0 || bytes.at(complete - 1) == '\n', "the complete part ends with a line");
    for (auto it = table.byNumber.cbegin(); it != table.byNumber.cend(); ++it) {
        fuzz::require(it.key() >= 0xC000 && it.key() <= 0xFFFF, "message numbers lie in 0xC000..0xFFFF");
        fuzz::require(!it.value().isEmpty(), "a message number has a name");
    }
    for (auto it = table.byFoldedName.cbegin(); it != table.byFoldedName.cend(); ++it)
        fuzz::require(table.byNumber.contains(it.value()), "a name's number is in the table");
}

// An entry another program wrote, found by the bus: its owner is not there, so the bus
// takes it for stale and removes it, whatever the entry says.
void checkEntry(const QByteArray& bytes) {
    const std::optional<platform::WindowInfo> entry = buswire::parseEntry(bytes);
    fuzz::require(!entry || entry->handle > 0, "an entry names a positive handle");
    const QString folder = fuzz::scratchFolder() + QStringLiteral("/bus");
    QDir().mkpath(folder);
    const platform::WindowHandle handle = entry ? entry->handle : 4711;
    const QString path = folder + QLatin1Char('/') + QString::number(handle) + QStringLiteral(".window");
    {
        QFile file(path);
        fuzz::require(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size(), "entry written");
    }
    LocalWindowBus bus(folder);
    fuzz::require(bus.enumWindows().isEmpty(), "a window without a socket is not on the bus");
    fuzz::require(!bus.isWindow(handle), "a window without a socket is no window");
    fuzz::require(!QFile::exists(path), "a stale entry is removed");
    QFile::remove(path);
}

// An atom another program added: its text is the file's, when the file holds one, and
// deleting the atom removes the file.
void checkAtom(const QByteArray& bytes) {
    const QString folder = fuzz::scratchFolder() + QStringLiteral("/bus");
    QDir().mkpath(folder);
    constexpr quint32 atom = 0xC000;
    const QString path = folder + QLatin1Char('/') + QString::number(atom) + QStringLiteral(".atom");
    {
        QFile file(path);
        fuzz::require(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size(), "atom written");
    }
    LocalWindowBus bus(folder);
    const std::optional<QString> text = bus.globalGetAtomName(atom);
    const QJsonValue stored = QJsonDocument::fromJson(bytes).object().value(u"text");
    fuzz::require(text.has_value() == stored.isString(), "an atom has a text when its file holds one");
    fuzz::require(!text || *text == stored.toString(), "an atom's text is the one in its file");
    bus.globalDeleteAtom(atom);
    fuzz::require(!QFile::exists(path), "a deleted atom's file is gone");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::ensureApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes = fuzz::bytesOf(data, size);
    checkTable(bytes);
    checkEntry(bytes);
    checkAtom(bytes);
    return 0;
}
