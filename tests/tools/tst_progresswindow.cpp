// The program's own progress window and its background thread: while the GUI thread is blocked
// (as it is during a database connect), the thread keeps painting the animation, counts the
// elapsed time in the caption and moves the taskbar progress; the window is painted before the
// slow work begins. The taskbar and the window system's overlay are stood in for by recorders,
// so the test sees each call, the thread it came from and when.

#include "ScriptedDialogs.h"
#include "TestEnvironment.h"
#include "platform/TaskbarProgress.h"
#include "platform/WindowOverlay.h"
#include "tools/KelvoProgress.h"
#include "tools/ProgressAnimation.h"
#include "tools/UfrmProgress.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMutex>
#include <QWindow>
#include <QtTest>

#include <stdexcept>

namespace {

const QString kStatus = QStringLiteral("Ansluter till databasen, vänta...");

// Every call the thread makes, with the thread it came from and when.
class Recorder {
public:
    struct Event {
        qint64 atMs = 0;
        Qt::HANDLE thread = nullptr;
        QString what;
        size_t image = 0; // a digest of a frame's pixels
    };

    Recorder() { m_clock.start(); }
    qint64 now() const { return m_clock.elapsed(); }
    void add(const QString& what, size_t image = 0) {
        const QMutexLocker locker(&m_mutex);
        m_events.append({m_clock.elapsed(), QThread::currentThreadId(), what, image});
    }
    QList<Event> events() const {
        const QMutexLocker locker(&m_mutex);
        return m_events;
    }
    // The events whose text begins with `kind`, in order.
    QList<Event> of(const QString& kind) const {
        QList<Event> found;
        for (const Event& event : events())
            if (event.what.startsWith(kind))
                found.append(event);
        return found;
    }

private:
    mutable QMutex m_mutex;
    QElapsedTimer m_clock;
    QList<Event> m_events;
};

class RecordingTaskbar : public platform::TaskbarProgress {
public:
    RecordingTaskbar(Recorder& recorder, bool available)
        : m_recorder(recorder)
        , m_available(available) {}
    bool available() override { return m_available; }
    void setProgressState(platform::WindowHandle window, platform::TaskbarState state) override {
        m_recorder.add(QStringLiteral("state %1 window %2")
                           .arg(state == platform::TaskbarState::Normal ? QStringLiteral("normal")
                                                                        : QStringLiteral("none"))
                           .arg(window));
    }
    void setProgressValue(platform::WindowHandle, quint64 completed, quint64 total) override {
        if (failAt != 0 && completed == failAt)
            throw std::runtime_error("Sessionsbussen svarar inte");
        m_recorder.add(QStringLiteral("value %1/%2").arg(completed).arg(total));
    }
    quint64 failAt = 0;

private:
    Recorder& m_recorder;
    const bool m_available;
};

class RecordingOverlay : public platform::WindowOverlay {
public:
    RecordingOverlay(Recorder& recorder, QSize size)
        : m_recorder(recorder)
        , m_size(size) {}
    QSize pixelSize() const override { return m_size; }
    void showImage(const QImage& image) override {
        m_recorder.add(QStringLiteral("frame"), qHashBits(image.constBits(), size_t(image.sizeInBytes())));
    }
    void setTitle(const QString& title) override { m_recorder.add(QStringLiteral("title ") + title); }

private:
    Recorder& m_recorder;
    const QSize m_size;
};

class RecordingOverlays : public platform::WindowOverlays {
public:
    RecordingOverlays(Recorder& recorder, bool supported)
        : m_recorder(recorder)
        , m_supported(supported) {}
    std::unique_ptr<platform::WindowOverlay> create(QWidget* window, const QRect& area) override {
        createdFor = window;
        createdArea = area;
        if (!m_supported)
            return nullptr;
        return std::make_unique<RecordingOverlay>(m_recorder, area.size());
    }
    QWidget* createdFor = nullptr;
    QRect createdArea;

private:
    Recorder& m_recorder;
    const bool m_supported;
};

// Counts the paint events of a window and its children.
class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

QString caption(int milliseconds) {
    return TfrmProgress::ElapsedCaption(QStringLiteral("Status"), milliseconds);
}

} // namespace

class TestProgressWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void threadKeepsTheWindowAliveWhileTheGuiThreadIsBlocked();
    void withoutTaskbarTheCaptionStays();
    void windowIsPaintedBeforeTheWorkBegins_data();
    void windowIsPaintedBeforeTheWorkBegins();
    void secondShowChangesTheTextsOnly();
    void threadFailureIsReported();

private:
    std::unique_ptr<TestEnvironment> m_env;
};

void TestProgressWindow::init() {
    m_env = std::make_unique<TestEnvironment>();
    ResetProgressState();
    SetProgressMainWindow(4711);
}

void TestProgressWindow::cleanup() {
    ResetProgressState();
    m_env.reset();
}

void TestProgressWindow::threadKeepsTheWindowAliveWhileTheGuiThreadIsBlocked() {
    Recorder recorder;
    RecordingTaskbar taskbar(recorder, true);
    RecordingOverlays overlays(recorder, true);
    platform::ScopedPort<platform::TaskbarProgress> taskbarPort(taskbar);
    platform::ScopedPort<platform::WindowOverlays> overlayPort(overlays);

    ShowProgressWindow(QStringLiteral("Status"), kStatus);
    QPointer<TfrmProgress> window = ProgressWindow();
    QVERIFY(window);
    const Qt::HANDLE guiThread = QThread::currentThreadId();
    const qint64 blockStart = recorder.now();
    QThread::msleep(2500); // the GUI thread does something slow
    const qint64 blockEnd = recorder.now();

    // Everything came from the thread, and it all went on during the block.
    for (const Recorder::Event& event : recorder.events())
        QVERIFY2(event.thread != guiThread, qPrintable(event.what));
    const auto during = [blockStart, blockEnd](const QList<Recorder::Event>& events) {
        return std::count_if(events.cbegin(), events.cend(), [&](const Recorder::Event& event) {
            return event.atMs >= blockStart && event.atMs <= blockEnd;
        });
    };
    const QList<Recorder::Event> frames = recorder.of(QStringLiteral("frame"));
    QVERIFY2(during(frames) >= 5, qPrintable(QString::number(during(frames))));
    QSet<size_t> pictures;
    for (const Recorder::Event& frame : frames)
        pictures.insert(frame.image);
    QVERIFY2(pictures.size() > 1, "the animation does not move");
    QVERIFY(during(recorder.of(QStringLiteral("title "))) >= 1);
    QVERIFY(during(recorder.of(QStringLiteral("value "))) >= 1);
    QCOMPARE(recorder.events().first().what, QStringLiteral("state normal window 4711"));

    // The GUI thread free again, the thread goes on until the taskbar progress has gone round.
    QTRY_VERIFY_WITH_TIMEOUT(recorder.of(QStringLiteral("value ")).size() >= 12, 20000);
    HideProgressWindow();
    QVERIFY(!window);
    QVERIFY(!ProgressThread());
    const QList<Recorder::Event> events = recorder.events();
    QCOMPARE(events.last().what, QStringLiteral("state none window 4711"));

    // Each step: the progress out of 10, starting again after 10, and the caption counting on
    // from 1.2 s in steps of 200 ms.
    QStringList steps;
    for (const Recorder::Event& event : events)
        if (event.what.startsWith(QStringLiteral("value ")) ||
            event.what.startsWith(QStringLiteral("title ")))
            steps.append(event.what);
    QStringList expected;
    for (int step = 0; step < steps.size() / 2; ++step)
        expected << QStringLiteral("value %1/10").arg(step % 10 + 1)
                 << QStringLiteral("title ") + caption(1200 + 200 * step);
    QCOMPARE(steps, expected);
}

void TestProgressWindow::withoutTaskbarTheCaptionStays() {
    Recorder recorder;
    RecordingTaskbar taskbar(recorder, false);
    RecordingOverlays overlays(recorder, true);
    platform::ScopedPort<platform::TaskbarProgress> taskbarPort(taskbar);
    platform::ScopedPort<platform::WindowOverlays> overlayPort(overlays);

    ShowProgressWindow(QStringLiteral("Status"), kStatus);
    QThread::msleep(1600);
    QCoreApplication::processEvents();
    QCOMPARE(ProgressWindow()->windowTitle(), QStringLiteral("Status"));
    HideProgressWindow();
    // The animation runs all the same; caption and taskbar are left alone.
    QVERIFY(!recorder.of(QStringLiteral("frame")).isEmpty());
    QCOMPARE(recorder.events().size(), recorder.of(QStringLiteral("frame")).size());
}

void TestProgressWindow::windowIsPaintedBeforeTheWorkBegins_data() {
    QTest::addColumn<bool>("overlaySupported");
    QTest::newRow("the thread paints the animation") << true;
    QTest::newRow("the window system has no overlays") << false;
}

void TestProgressWindow::windowIsPaintedBeforeTheWorkBegins() {
    QFETCH(bool, overlaySupported);
    Recorder recorder;
    RecordingTaskbar taskbar(recorder, true);
    RecordingOverlays overlays(recorder, overlaySupported);
    platform::ScopedPort<platform::TaskbarProgress> taskbarPort(taskbar);
    platform::ScopedPort<platform::WindowOverlays> overlayPort(overlays);
    PaintCounter counter;
    qApp->installEventFilter(&counter);

    ShowProgressWindow(QStringLiteral("Status"), kStatus);
    qApp->removeEventFilter(&counter);
    TfrmProgress* window = ProgressWindow();
    QVERIFY(window);
    QVERIFY(window->isVisible());
    QVERIFY(window->windowHandle()->isExposed());
    QVERIFY2(counter.paints > 0, "nothing painted before the slow work");
    QCOMPARE(window->StatusLabel->text(), kStatus);
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    // The overlay covers the animation; without one the window's own timer animates it.
    QCOMPARE(overlays.createdFor, window);
    QCOMPARE(overlays.createdArea, window->AnimationArea());
    QCOMPARE(window->Animation->Active(), !overlaySupported);
    QCOMPARE(ProgressThread()->HasOverlay(), overlaySupported);
    HideProgressWindow();
    QVERIFY(!QApplication::overrideCursor());
}

void TestProgressWindow::secondShowChangesTheTextsOnly() {
    Recorder recorder;
    RecordingTaskbar taskbar(recorder, true);
    RecordingOverlays overlays(recorder, true);
    platform::ScopedPort<platform::TaskbarProgress> taskbarPort(taskbar);
    platform::ScopedPort<platform::WindowOverlays> overlayPort(overlays);

    ShowProgressWindow(QStringLiteral("Status"), kStatus);
    TfrmProgress* window = ProgressWindow();
    TProgressThread* thread = ProgressThread();
    ShowProgressWindow(QStringLiteral("Vänta"), QStringLiteral("Läser registret..."));
    QCOMPARE(ProgressWindow(), window);
    QCOMPARE(ProgressThread(), thread);
    QCOMPARE(window->windowTitle(), QStringLiteral("Vänta"));
    QCOMPARE(window->StatusLabel->text(), QStringLiteral("Läser registret..."));
    // The thread counts behind the caption it was started with.
    QTRY_VERIFY(!recorder.of(QStringLiteral("title ")).isEmpty());
    QCOMPARE(recorder.of(QStringLiteral("title ")).first().what, QStringLiteral("title ") + caption(1200));
    HideProgressWindow();
}

void TestProgressWindow::threadFailureIsReported() {
    Recorder recorder;
    RecordingTaskbar taskbar(recorder, true);
    taskbar.failAt = 2;
    RecordingOverlays overlays(recorder, true);
    platform::ScopedPort<platform::TaskbarProgress> taskbarPort(taskbar);
    platform::ScopedPort<platform::WindowOverlays> overlayPort(overlays);
    ScriptedDialogs dialogs;
    dialogs.expectExactly(
        platform::DialogKind::Error,
        QStringLiteral("Det gick inte att visa Progressfönstret!\r\rSessionsbussen svarar inte"));

    ShowProgressWindow(QStringLiteral("Status"), kStatus);
    // The report reaches the GUI thread, and the message takes the window down first.
    QTRY_VERIFY_WITH_TIMEOUT(dialogs.allAnswered(), 10000);
    QVERIFY(!ProgressWindow());
    QVERIFY(!ProgressThread());
}

QTEST_MAIN(TestProgressWindow)
#include "tst_progresswindow.moc"
