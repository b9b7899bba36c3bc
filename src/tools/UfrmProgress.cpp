#include "tools/UfrmProgress.h"

#include "tools/KelvoMessages.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QPointer>
#include <QScreen>
#include <QVBoxLayout>

namespace {

const QString kDefaultStatus = QStringLiteral("Systemet arbetar. Detta kan ta flera minuter...");
constexpr int kFirstTickMs = 1000;
constexpr int kTickMs = 200;

struct ProgressState {
    QString appPath;
    bool inStartProgress = false; // a nested StartProgress from the event processing returns at once
    bool cursorShown = false;
    QPointer<TfrmProgress> window;
};

ProgressState& state() {
    static ProgressState progress;
    return progress;
}

bool widgetsAvailable() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

void showHourglass() {
    if (!widgetsAvailable() || state().cursorShown)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    state().cursorShown = true;
}

void restoreCursor() {
    if (!state().cursorShown)
        return;
    QApplication::restoreOverrideCursor();
    state().cursorShown = false;
}

void centreOnScreen(QWidget* window) {
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        window->move(screen->availableGeometry().center() - window->rect().center());
}

} // namespace

TfrmProgress::TfrmProgress(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("frmProgress"));
    setWindowTitle(QStringLiteral("Status"));
    setFixedSize(296, 117);
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(this);
    layout->addWidget(group);
    auto* groupLayout = new QVBoxLayout(group);
    Label1 = new QLabel(kDefaultStatus, group);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setWordWrap(true);
    Label1->setMinimumHeight(2 * Label1->fontMetrics().lineSpacing());
    Label2 = new QLabel(group);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setAlignment(Qt::AlignCenter);
    groupLayout->addWidget(Label1);
    groupLayout->addWidget(Label2);
    m_clock.setSingleShot(true);
    connect(&m_clock, &QTimer::timeout, this, &TfrmProgress::tick);
    PrepareForm(this);
}

void TfrmProgress::setTexts(const QString& caption, const QString& status) {
    setWindowTitle(caption);
    Label1->setText(status);
}

void TfrmProgress::startClock(const QString& caption) {
    m_cap = caption;
    m_timePassed = kFirstTickMs;
    m_clock.start(kFirstTickMs);
}

QString TfrmProgress::ElapsedCaption(const QString& caption, int milliseconds) {
    // One decimal digit, left out when it is zero: "1,2s" but "2s".
    const int tenths = qRound(milliseconds / 100.0);
    const int decimals = tenths % 10 == 0 ? 0 : 1;
    return caption + QStringLiteral(" - ") + QLocale().toString(tenths / 10.0, 'f', decimals) +
           QLatin1Char('s');
}

void TfrmProgress::tick() {
    m_timePassed += kTickMs;
    setWindowTitle(ElapsedCaption(m_cap, m_timePassed));
    m_clock.start(kTickMs);
}

void TfrmProgress::closeEvent(QCloseEvent* event) {
    event->ignore();
}

void StartProgress(const QString& caption, const QString& status, bool onlyIfKnown) {
    ProgressState& progress = state();
    if (progress.inStartProgress)
        return;
    // The separate progress program is not looked for on Linux, so it is never known.
    if (onlyIfKnown && progress.appPath.isEmpty())
        return;
    progress.inStartProgress = true;
    ShowProgressWindow(caption, status);
    progress.inStartProgress = false;
}

void EndProgress(bool force) {
    // Only the separate progress program counts its activations; the own window always goes.
    Q_UNUSED(force);
    HideProgressWindow();
}

void ShowProgressWindow(const QString& caption, const QString& status) {
    if (!widgetsAvailable())
        return;
    showHourglass();
    ProgressState& progress = state();
    if (progress.window) {
        progress.window->setTexts(caption, status);
    } else {
        progress.window = new TfrmProgress;
        progress.window->setTexts(caption, status);
        centreOnScreen(progress.window);
        progress.window->show();
        progress.window->startClock(caption);
    }
    // Paint the window now: the slow work that follows keeps the event loop busy.
    QCoreApplication::processEvents();
}

void HideProgressWindow() {
    restoreCursor();
    ProgressState& progress = state();
    delete progress.window.data();
}

void ForgetProgressAppPath() {
    state().appPath.clear();
}

TfrmProgress* ProgressWindow() {
    return state().window.data();
}
