#include "tools/UfrmProgress.h"

#include "platform/TaskbarProgress.h"
#include "platform/WindowOverlay.h"
#include "tools/KelvoMessages.h"
#include "tools/KelvoProgress.h"
#include "tools/ProgressAnimation.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QGroupBox>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

namespace {

const QString kDesignStatus = QStringLiteral("Systemet arbetar. Detta kan ta flera minuter...");
constexpr int kClientWidth = 296;
constexpr int kClientHeight = 117;
constexpr int kAnimationHeight = 40;
// The first caption step comes after one second, the later ones every 200 ms; the taskbar
// progress counts to 10 and starts again.
constexpr int kFirstStepMs = 1000;
constexpr int kStepMs = 200;
constexpr int kProgressSteps = 10;
// How long the window may take to appear on the screen before the slow work begins anyway.
constexpr int kExposeWaitMs = 1000;

struct InProcessDisplay {
    QPointer<TfrmProgress> window;
    std::unique_ptr<TProgressThread> thread;
    bool cursorShown = false;
    bool quitHooked = false;
};

InProcessDisplay& display() {
    static InProcessDisplay state;
    return state;
}

bool widgetsAvailable() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

void centreOnScreen(QWidget* window) {
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        window->move(screen->availableGeometry().center() - window->rect().center());
}

// Shows the window and paints it now: the slow work that follows keeps the GUI thread from
// painting it later. The window system may take a moment to put a new window on the screen,
// so this waits (briefly) until it is there; the user's input waits meanwhile.
void showAndPaint(QWidget* window) {
    window->show();
    const QDeadlineTimer deadline(kExposeWaitMs);
    while (!(window->windowHandle() && window->windowHandle()->isExposed()) && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QThread::msleep(2);
    }
    window->repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

// The window is taken down when the program ends while it is still shown.
void hookQuit() {
    if (display().quitHooked)
        return;
    display().quitHooked = true;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp, [] { HideProgressWindow(); });
}

} // namespace

// ---------------------------------------------------------------------------------------

TfrmProgress::TfrmProgress(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("frmProgress"));
    setWindowTitle(QStringLiteral("Status"));
    setFixedSize(kClientWidth, kClientHeight);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 4);
    auto* group = new QGroupBox(this);
    layout->addWidget(group);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->setContentsMargins(6, 4, 6, 2);
    groupLayout->setSpacing(0);
    StatusLabel = new QLabel(kDesignStatus, group);
    StatusLabel->setObjectName(QStringLiteral("Label1"));
    StatusLabel->setAlignment(Qt::AlignCenter);
    StatusLabel->setWordWrap(true);
    StatusLabel->setFixedHeight(2 * StatusLabel->fontMetrics().lineSpacing());
    SpareLabel = new QLabel(group);
    SpareLabel->setObjectName(QStringLiteral("Label2"));
    SpareLabel->setAlignment(Qt::AlignCenter);
    Animation = new TAnimate(group);
    Animation->setObjectName(QStringLiteral("Animate1"));
    Animation->setFixedHeight(kAnimationHeight);
    groupLayout->addWidget(StatusLabel);
    groupLayout->addWidget(SpareLabel);
    groupLayout->addWidget(Animation);
    PrepareForm(this);
}

void TfrmProgress::setTexts(const QString& caption, const QString& status) {
    setWindowTitle(caption);
    StatusLabel->setText(status);
}

QRect TfrmProgress::AnimationArea() const {
    return QRect(Animation->mapTo(this, QPoint(0, 0)), Animation->size());
}

QString TfrmProgress::ElapsedCaption(const QString& caption, int milliseconds) {
    // One decimal digit, left out when it is zero: "1,2s" but "2s".
    const int tenths = qRound(milliseconds / 100.0);
    const int decimals = tenths % 10 == 0 ? 0 : 1;
    return caption + QStringLiteral(" - ") + QLocale().toString(tenths / 10.0, 'f', decimals) +
           QLatin1Char('s');
}

void TfrmProgress::closeEvent(QCloseEvent* event) {
    event->ignore();
}

// ---------------------------------------------------------------------------------------

TProgressThread::TProgressThread(platform::TaskbarProgress& taskbar, QObject* parent)
    : QThread(parent)
    , m_taskbar(taskbar) {
    setObjectName(QStringLiteral("TProgressThread"));
    FTaskbarenabled = m_taskbar.available();
}

TProgressThread::~TProgressThread() {
    RequestEnd();
    wait();
}

void TProgressThread::SetWindow(TfrmProgress* form, std::unique_ptr<platform::WindowOverlay> overlay) {
    FProgressform = form;
    m_overlay = std::move(overlay);
    m_palette = form->Animation->palette();
    m_animationSize = form->Animation->size();
}

void TProgressThread::RequestEnd() {
    const QMutexLocker locker(&m_mutex);
    m_endRequested = true;
    m_wake.wakeAll();
}

void TProgressThread::run() {
    try {
        if (FTaskbarenabled)
            m_taskbar.setProgressState(FMasterFormHandle, platform::TaskbarState::Normal);
        bool going = animateFor(kFirstStepMs);
        if (going)
            timepassed = kFirstStepMs;
        while (going) {
            timepassed += kStepMs;
            if (FTaskbarenabled) {
                ++progressbarnr;
                m_taskbar.setProgressValue(FMasterFormHandle, quint64(progressbarnr), kProgressSteps);
                showCaption(TfrmProgress::ElapsedCaption(cap, timepassed));
                if (progressbarnr >= kProgressSteps)
                    progressbarnr = 0;
            }
            going = animateFor(kStepMs);
        }
        // The taskbar can be told from this thread, so it is not left to the busy GUI thread.
        if (FTaskbarenabled)
            m_taskbar.setProgressState(FMasterFormHandle, platform::TaskbarState::NoProgress);
    } catch (const std::exception& failure) {
        clearTaskbarAfterFailure();
        // Reported on the GUI thread, which shows messages; the window is still up until then.
        const QString text = QStringLiteral("Det gick inte att visa Progressfönstret") + QLatin1Char('!') +
                             QStringLiteral("\r\r") + FailureText(failure);
        QMetaObject::invokeMethod(
            qApp, [text] { ErrorMessage(text); }, Qt::QueuedConnection);
    }
}

// A progress indication left behind would claim work that has ended; a taskbar that failed
// once may fail again, which changes nothing then.
void TProgressThread::clearTaskbarAfterFailure() noexcept {
    if (!FTaskbarenabled)
        return;
    try {
        m_taskbar.setProgressState(FMasterFormHandle, platform::TaskbarState::NoProgress);
    } catch (const std::exception&) {
    }
}

// Paints a frame every kCopyAnimationFrameMs until `milliseconds` have passed; false when the
// thread was asked to end meanwhile.
bool TProgressThread::animateFor(int milliseconds) {
    for (int passed = 0; passed < milliseconds; passed += kCopyAnimationFrameMs) {
        paintFrame();
        if (!sleepFor(qMin(kCopyAnimationFrameMs, milliseconds - passed)))
            return false;
    }
    return true;
}

bool TProgressThread::sleepFor(int milliseconds) {
    const QMutexLocker locker(&m_mutex);
    if (!m_endRequested)
        m_wake.wait(&m_mutex, QDeadlineTimer(milliseconds));
    return !m_endRequested;
}

void TProgressThread::paintFrame() {
    ++m_frame;
    if (!m_overlay)
        return;
    QImage image(m_overlay->pixelSize(), QImage::Format_RGB32);
    if (image.isNull())
        return;
    image.setDevicePixelRatio(m_animationSize.width() > 0 ? image.width() / m_animationSize.width() : 1.0);
    QPainter painter(&image);
    PaintCopyAnimationFrame(painter, QRectF(QPointF(0, 0), m_animationSize), m_frame, m_palette);
    painter.end();
    m_overlay->showImage(image);
}

// The caption goes to the window system at once through the overlay, and to the window itself
// by a posted call that the GUI thread carries out when it is free again.
void TProgressThread::showCaption(const QString& caption) {
    if (m_overlay)
        m_overlay->setTitle(caption);
    TfrmProgress* form = FProgressform;
    if (form)
        QMetaObject::invokeMethod(
            form, [form, caption] { form->setWindowTitle(caption); }, Qt::QueuedConnection);
}

// ---------------------------------------------------------------------------------------

void ShowHourglassCursor() {
    if (!widgetsAvailable() || display().cursorShown)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    display().cursorShown = true;
}

void RestoreNormalCursor() {
    if (!display().cursorShown)
        return;
    QApplication::restoreOverrideCursor();
    display().cursorShown = false;
}

void ShowProgressWindow(const QString& caption, const QString& status) {
    if (!widgetsAvailable())
        return;
    ShowHourglassCursor();
    const platform::WindowHandle client = ProgressClientWindow();
    InProcessDisplay& state = display();
    if (state.thread && state.window) {
        // The thread keeps counting behind the caption it was started with.
        state.window->setTexts(caption, status);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        return;
    }
    hookQuit();
    auto* window = new TfrmProgress;
    state.window = window;
    window->setTexts(caption, status);
    centreOnScreen(window);
    window->Animation->Play();
    showAndPaint(window);

    auto thread = std::make_unique<TProgressThread>(platform::taskbarProgress());
    thread->FMasterFormHandle = client;
    thread->cap = caption;
    thread->txt = status;
    thread->SetWindow(window, platform::windowOverlays().create(window, window->AnimationArea()));
    // Where the thread paints the animation, the window's own timer would only paint beneath it.
    if (thread->HasOverlay())
        window->Animation->Stop();
    state.thread = std::move(thread);
    state.thread->start();
}

void HideProgressWindow() {
    RestoreNormalCursor();
    InProcessDisplay& state = display();
    // The thread ends first: it paints into the window that is destroyed next.
    state.thread.reset();
    if (state.window) {
        state.window->Animation->Stop();
        delete state.window.data();
    }
}

TfrmProgress* ProgressWindow() {
    return display().window.data();
}

TProgressThread* ProgressThread() {
    return display().thread.get();
}
