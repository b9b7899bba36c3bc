#include "platform/CanberraSoundSystem.h"

#include "platform/Logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <alsa/asoundlib.h>
#include <canberra.h>

#include <array>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <set>

namespace platform {

namespace {

struct EventName {
    const char16_t* windows;
    const char* theme;
};

// Windows sound events and the freedesktop sound-theme names that sound the same part.
constexpr std::array<EventName, 17> eventNames{{
    {u".Default", "bell"},
    {u"SystemAsterisk", "dialog-information"},
    {u"SystemHand", "dialog-error"},
    {u"SystemExclamation", "dialog-warning"},
    {u"SystemQuestion", "dialog-question"},
    {u"SystemStart", "desktop-login"},
    {u"SystemExit", "desktop-logout"},
    {u"MailBeep", "message-new-email"},
    {u"AppGPFault", "dialog-error"},
    {u"Open", "window-new"},
    {u"Close", "window-close"},
    {u"Maximize", "window-maximized"},
    {u"Minimize", "window-minimized"},
    {u"RestoreDown", "window-unmaximized"},
    {u"RestoreUp", "window-unminimized"},
    {u"MenuCommand", "menu-click"},
    {u"MenuPopup", "menu-popup"},
}};

constexpr char defaultThemeSound[] = "bell";

// Errors that say the sound itself could not be found or read, as opposed to the
// output being unavailable; only these make way for the default sound.
bool soundNotUsable(int error) {
    return error == CA_ERROR_NOTFOUND || error == CA_ERROR_CORRUPT || error == CA_ERROR_NOTSUPPORTED;
}

// ALSA writes its complaints to the standard error stream: on a computer without a sound
// device, several lines each time a sound is to play, though a sound that cannot play is no
// fault here. They go to the log's detail instead (category ravlek.sound, debug).
__attribute__((format(printf, 5, 6))) void alsaComplaint(const char* file, int line, const char* function,
                                                         int error, const char* format, ...) {
    if (!lcSound().isDebugEnabled())
        return;
    std::array<char, 512> text{};
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text.data(), text.size(), format, arguments);
    va_end(arguments);
    qCDebug(lcSound, "ALSA %s:%d (%s): %s%s%s", file, line, function, text.data(), error != 0 ? ": " : "",
            error != 0 ? snd_strerror(error) : "");
}

// The process's one libcanberra context; null when libcanberra cannot be used at all.
// Never destroyed (see the class comment).
ca_context* sharedContext() {
    static ca_context* const context = [] {
        // Before libcanberra's ALSA output can first complain.
        snd_lib_error_set_handler(&alsaComplaint);
        ca_context* created = nullptr;
        if (ca_context_create(&created) != CA_SUCCESS)
            return static_cast<ca_context*>(nullptr);
        const QByteArray application = QCoreApplication::applicationName().toUtf8();
        if (!application.isEmpty())
            ca_context_change_props(created, CA_PROP_APPLICATION_NAME, application.constData(), nullptr);
        return created;
    }();
    return context;
}

// Sound ids are unique in the process, so that a late report never matches a newer sound.
std::uint32_t nextSoundId() {
    static std::atomic<std::uint32_t> last{0};
    return ++last;
}

// The sound systems that are alive; libcanberra's reports are delivered only to them.
// Both live until the process ends, as reports may still come while it exits.
std::mutex& liveMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}

std::set<const void*>& liveSystems() {
    static auto* systems = new std::set<const void*>;
    return *systems;
}

QString defaultScratchFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return runtime;
    return QDir::tempPath();
}

} // namespace

std::unique_ptr<SoundSystem> SoundSystem::makeDefault() {
    return std::make_unique<CanberraSoundSystem>();
}

CanberraSoundSystem::CanberraSoundSystem(const QString& scratchFolder)
    : m_scratchFolder(scratchFolder.isEmpty() ? defaultScratchFolder() : scratchFolder) {
    std::lock_guard lock(liveMutex());
    liveSystems().insert(this);
}

CanberraSoundSystem::~CanberraSoundSystem() {
    releaseCurrent();
    // Waits for a report being delivered at this moment; none comes after this.
    std::lock_guard lock(liveMutex());
    liveSystems().erase(this);
}

QString CanberraSoundSystem::themeSoundName(const QString& windowsEventName) {
    for (const EventName& entry : eventNames) {
        if (windowsEventName.compare(QStringView(entry.windows), Qt::CaseInsensitive) == 0)
            return QString::fromLatin1(entry.theme);
    }
    return {};
}

bool CanberraSoundSystem::playWave(const QByteArray& wave, quint32 flags) {
    releaseCurrent();
    if (wave.isEmpty())
        return false;
    auto file =
        std::make_unique<QTemporaryFile>(m_scratchFolder + QStringLiteral("/ravlek-sound-XXXXXX.wav"));
    if (!file->open() || file->write(wave) != wave.size() || !file->flush()) {
        // Nothing to play from: a full or missing scratch folder is a sound that did not play.
        return false;
    }
    file->close();
    m_waveFile = std::move(file);
    if (play({{}, QFile::encodeName(m_waveFile->fileName())}, flags))
        return true;
    m_waveFile.reset();
    return false;
}

bool CanberraSoundSystem::playEvent(const QString& eventName, quint32 flags) {
    releaseCurrent();
    if (eventName.isEmpty())
        return false;
    const QString theme = themeSoundName(eventName);
    if (theme.isEmpty())
        return playDefault(flags);
    return play({theme.toLatin1(), {}}, flags);
}

void CanberraSoundSystem::stop() {
    releaseCurrent();
}

QString CanberraSoundSystem::currentWaveFile() const {
    return m_waveFile ? m_waveFile->fileName() : QString();
}

bool CanberraSoundSystem::play(const Sound& sound, quint32 flags) {
    if (!sharedContext())
        return false;
    const std::uint32_t id = nextSoundId();
    const bool looped = flags & SND_LOOP;
    const bool synchronous = !(flags & SND_ASYNC) && !looped;
    if (synchronous) {
        std::lock_guard lock(m_waitMutex);
        m_waitId = id;
        m_waitDone = false;
    }
    const int error = start(sound, id);
    if (error != CA_SUCCESS) {
        if (soundNotUsable(error) && !(flags & SND_NODEFAULT) && sound.eventId != defaultThemeSound) {
            m_waveFile.reset();
            return playDefault(flags);
        }
        return false;
    }
    if (synchronous) {
        const int outcome = waitUntilFinished(id);
        m_waveFile.reset();
        return outcome == CA_SUCCESS;
    }
    m_currentId = id;
    m_currentLooped = looped;
    m_currentSound = sound;
    return true;
}

bool CanberraSoundSystem::playDefault(quint32 flags) {
    if (flags & SND_NODEFAULT)
        return false;
    return play({defaultThemeSound, {}}, flags | SND_NODEFAULT);
}

int CanberraSoundSystem::start(const Sound& sound, std::uint32_t id) {
    ca_proplist* properties = nullptr;
    if (ca_proplist_create(&properties) != CA_SUCCESS)
        return CA_ERROR_OOM;
    if (!sound.eventId.isEmpty()) {
        ca_proplist_sets(properties, CA_PROP_EVENT_ID, sound.eventId.constData());
    } else {
        ca_proplist_sets(properties, CA_PROP_MEDIA_FILENAME, sound.fileName.constData());
        // A one-off file: keeping it in the sound server's cache would only waste memory.
        ca_proplist_sets(properties, CA_PROP_CANBERRA_CACHE_CONTROL, "never");
    }
    const int error =
        ca_context_play_full(sharedContext(), id, properties, &CanberraSoundSystem::onFinished, this);
    ca_proplist_destroy(properties);
    if (error == CA_SUCCESS)
        ++m_soundsStarted;
    return error;
}

int CanberraSoundSystem::waitUntilFinished(std::uint32_t id) {
    std::unique_lock lock(m_waitMutex);
    m_waitCondition.wait(lock, [this, id] { return m_waitId == id && m_waitDone; });
    m_waitId = 0;
    return m_waitError;
}

// Runs on libcanberra's thread (or on ours, when a sound fails at once). libcanberra must
// not be called from here: its own locks are held.
void CanberraSoundSystem::onFinished(ca_context*, std::uint32_t id, int error, void* self) {
    std::lock_guard lock(liveMutex());
    if (liveSystems().contains(self))
        static_cast<CanberraSoundSystem*>(self)->reportFinished(id, error);
}

void CanberraSoundSystem::reportFinished(std::uint32_t id, int error) {
    {
        std::lock_guard lock(m_waitMutex);
        if (m_waitId == id) {
            m_waitDone = true;
            m_waitError = error;
            m_waitCondition.notify_all();
            return;
        }
    }
    QMetaObject::invokeMethod(
        &m_receiver, [this, id, error] { finished(id, error); }, Qt::QueuedConnection);
}

void CanberraSoundSystem::finished(std::uint32_t id, int error) {
    if (id != m_currentId)
        return; // a sound that was stopped or replaced meanwhile
    if (m_currentLooped && error == CA_SUCCESS) {
        const std::uint32_t next = nextSoundId();
        if (start(m_currentSound, next) == CA_SUCCESS) {
            m_currentId = next;
            return;
        }
    }
    m_currentId = 0;
    m_currentLooped = false;
    m_currentSound = {};
    m_waveFile.reset();
}

void CanberraSoundSystem::releaseCurrent() {
    if (m_currentId != 0)
        ca_context_cancel(sharedContext(), m_currentId);
    m_currentId = 0;
    m_currentLooped = false;
    m_currentSound = {};
    m_waveFile.reset();
}

} // namespace platform
