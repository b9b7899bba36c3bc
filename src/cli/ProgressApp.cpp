#include "cli/ProgressApp.h"

#include "tools/KelvoProgress.h"
#include "tools/ProgressAnimation.h"
#include "tools/UfrmProgress.h"

#include <QApplication>
#include <QFile>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>

#include <unistd.h>

namespace {

// The value after `key` when `argument` begins with it (any letter case); a value in double
// quotes, as a Windows command line writes it, loses them.
std::optional<QString> valueOf(const QString& argument, const QString& key) {
    if (!argument.startsWith(key, Qt::CaseInsensitive))
        return std::nullopt;
    QString value = argument.mid(key.size());
    if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
        value = value.mid(1, value.size() - 2);
    return value;
}

// A text on one line of the log.
QString oneLine(QString text) {
    text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    text.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
    text.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    return text;
}

void centreOnScreen(QWidget* window) {
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        window->move(screen->availableGeometry().center() - window->rect().center());
}

} // namespace

TProgressAppStart ParseProgressAppArguments(const QStringList& arguments) {
    TProgressAppStart start;
    for (const QString& argument : arguments) {
        if (const std::optional<QString> caption = valueOf(argument, kProgressCaptionKey))
            start.caption = *caption;
        else if (const std::optional<QString> style = valueOf(argument, kProgressStyleKey))
            start.style = *style;
        else if (const std::optional<QString> status = valueOf(argument, kProgressStatusKey))
            start.status = *status;
        else if (const std::optional<QString> client = valueOf(argument, kProgressClientKey))
            start.client = qMax(0, client->toInt());
    }
    return start;
}

TProgressApp::TProgressApp(const TProgressAppStart& start, qint32 version, QObject* parent)
    : QObject(parent)
    , m_windowClass(ProgressAppWindowClass(version))
    , m_window(std::make_unique<TfrmProgress>())
    , m_noClientGrace(kNoClientGraceMs)
    , m_logFile(qEnvironmentVariable(kProgressLogVariable)) {
    // Shown for a client that is busy: it must not take the keyboard from anybody.
    m_window->setAttribute(Qt::WA_ShowWithoutActivating);
    if (!start.caption.isEmpty())
        m_window->setWindowTitle(start.caption);
    if (!start.status.isEmpty())
        m_window->StatusLabel->setText(start.status);
    applyStyle(start.style);
    centreOnScreen(m_window.get());
    addClient(start.client);
    log(QStringLiteral("start pid=%1 class=%2 CAPTION=%3 STYLE=%4 STATUS=%5 CLIENTHWND=%6")
            .arg(::getpid())
            .arg(m_windowClass, oneLine(start.caption), oneLine(start.style), oneLine(start.status))
            .arg(start.client));
    m_clientCheck.setInterval(kClientCheckMs);
    connect(&m_clientCheck, &QTimer::timeout, this, &TProgressApp::CheckClients);
    m_clientCheck.start();
}

TProgressApp::~TProgressApp() {
    m_registration.reset();
    log(QStringLiteral("end"));
}

bool TProgressApp::Register(QString* error) {
    platform::WindowDefinition definition;
    definition.className = m_windowClass;
    definition.title = m_window->windowTitle();
    definition.handler = [this](quint32 msg, qint64 wParam, qint64 lParam) {
        return Receive(msg, wParam, lParam);
    };
    definition.widget = m_window.get();
    m_registration = platform::windowBus().registerWindow(definition, error);
    if (m_registration)
        log(QStringLiteral("registered handle=%1").arg(m_registration->handle()));
    return m_registration != nullptr;
}

platform::WindowHandle TProgressApp::Handle() const {
    return m_registration ? m_registration->handle() : 0;
}

qint64 TProgressApp::Receive(quint32 msg, qint64 wParam, qint64 lParam) {
    platform::WindowBus& bus = platform::windowBus();
    const QString name = bus.messageName(msg);
    const QString received = QStringLiteral("%1 wParam=%2 lParam=%3")
                                 .arg(name.isEmpty() ? QString::number(msg) : name)
                                 .arg(wParam)
                                 .arg(lParam);
    const auto is = [&name](const QString& wanted) { return name.compare(wanted, Qt::CaseInsensitive) == 0; };

    if (is(kMsgSetActiveTema) || is(kMsgSetActiveCaption) || is(kMsgSetActiveStatus)) {
        // The atom lives only while the client's send lasts: it is read now or never.
        const std::optional<QString> text = atomText(lParam);
        log(received + (text ? QStringLiteral(" text=") + oneLine(*text) : QStringLiteral(" no text")));
        if (!text)
            return 0;
        if (is(kMsgSetActiveTema)) {
            applyStyle(*text);
        } else if (is(kMsgSetActiveCaption)) {
            m_window->setWindowTitle(*text);
            if (m_registration)
                m_registration->setTitle(*text);
        } else {
            m_window->StatusLabel->setText(*text);
        }
        return 1;
    }
    if (is(kMsgSetActiveHwnd)) {
        log(received);
        addClient(platform::WindowHandle(wParam));
        return 1;
    }
    if (is(kMsgActivateProgressApp)) {
        addClient(platform::WindowHandle(wParam));
        ++m_activations;
        log(received + QStringLiteral(" activations=%1").arg(m_activations));
        showWindow();
        return 1;
    }
    if (is(kMsgInactivateProgressApp)) {
        m_activations = qMax(0, m_activations - 1);
        log(received + QStringLiteral(" activations=%1").arg(m_activations));
        if (m_activations == 0)
            hideWindow();
        return 1;
    }
    if (is(kMsgHideNowProgressApp)) {
        m_activations = 0;
        log(received + QStringLiteral(" activations=0"));
        hideWindow();
        return 1;
    }
    log(received + QStringLiteral(" ignored"));
    return 0;
}

void TProgressApp::CheckClients() {
    platform::WindowBus& bus = platform::windowBus();
    for (const platform::WindowHandle client : std::as_const(m_clients)) {
        if (bus.isWindow(client))
            return;
    }
    if (m_clients.isEmpty() && !m_noClientGrace.hasExpired())
        return;
    log(m_clients.isEmpty() ? QStringLiteral("no client came") : QStringLiteral("clients gone"));
    m_clientCheck.stop();
    Q_EMIT clientsGone();
}

void TProgressApp::addClient(platform::WindowHandle window) {
    if (window > 0)
        m_clients.insert(window);
}

void TProgressApp::showWindow() {
    if (!m_window->isVisible()) {
        m_window->show();
        log(QStringLiteral("shown"));
    }
    m_window->Animation->Play();
}

void TProgressApp::hideWindow() {
    m_window->Animation->Stop();
    if (m_window->isVisible()) {
        m_window->hide();
        log(QStringLiteral("hidden"));
    }
}

// The client's visual style, when this program has one of that name.
void TProgressApp::applyStyle(const QString& name) {
    if (name.isEmpty() || !qobject_cast<QApplication*>(QCoreApplication::instance()) ||
        QApplication::style()->name().compare(name, Qt::CaseInsensitive) == 0)
        return;
    const QStringList known = QStyleFactory::keys();
    if (std::any_of(known.cbegin(), known.cend(),
                    [&name](const QString& key) { return key.compare(name, Qt::CaseInsensitive) == 0; }))
        QApplication::setStyle(name);
}

std::optional<QString> TProgressApp::atomText(qint64 lParam) {
    if (lParam <= 0 || lParam > 0xFFFF)
        return std::nullopt;
    return platform::windowBus().globalGetAtomName(quint32(lParam));
}

void TProgressApp::log(const QString& line) {
    if (m_logFile.isEmpty())
        return;
    QFile file(m_logFile);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write((line + QLatin1Char('\n')).toUtf8());
}
