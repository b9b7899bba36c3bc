#include "TestEnvironment.h"

#include "scanner/DSDLib_TLB.h"
#include "scanner/ScannerStatus.h"
#include "sim/SimulatedDsd.h"

#include <QtTest>

namespace {

// The least a control can be: every operation succeeds.
class StubDsd : public TDsd {
    Q_OBJECT
public:
    using TDsd::TDsd;
    qint32 OpenScanner(qint32, qint32, const QString&) override { return ScannerCode::Ok; }
    qint32 CloseScanner() override { return ScannerCode::Ok; }
    qint32 GetScannerStatus() override { return ScannerCode::Connected; }
    qint32 SetImageFormat(qint32) override { return ScannerCode::Ok; }
    qint32 SetImageStore(const QString&) override { return ScannerCode::Ok; }
    qint32 ActivateScan(qint32) override { return ScannerCode::Ok; }
    QString GetImageParms() override { return {}; }
    qint32 GetScannerVersion() override { return 1; }
    qint32 DiscardImage() override { return ScannerCode::Ok; }
    qint32 ActivateSetup(qint32) override { return ScannerCode::Ok; }
};

const QString kTestClassId = QStringLiteral("{00000000-1111-2222-3333-444444444444}");

QString creationError(const QString& classId) {
    try {
        CreateScannerControl(classId, nullptr);
    } catch (const ScannerControlError& error) {
        return error.text();
    }
    return QStringLiteral("<created>");
}

} // namespace

class TestDsdFactory : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() {
        UnregisterScannerControl(kTestClassId);
        UnregisterScannerControl(CLASS_Dsd);
    }

    void unknownClassIdIsAnError() { QCOMPARE(creationError(kTestClassId), u"Class not registered"_qs); }

    void createsByClassIdInAnyLetterCase() {
        RegisterScannerControl(kTestClassId,
                               [](QObject* parent) { return std::make_unique<StubDsd>(parent); });
        QObject owner;
        const std::unique_ptr<TDsd> control = CreateScannerControl(kTestClassId.toLower(), &owner);
        QVERIFY(qobject_cast<StubDsd*>(control.get()));
        QCOMPARE(control->parent(), &owner);
    }

    void failingCreatorGivesItsText_data() {
        QTest::addColumn<int>("failure");
        QTest::addColumn<QString>("text");
        QTest::newRow("standard exception") << 0 << u"driver missing"_qs;
        QTest::newRow("control error") << 1 << u"Ingen skanner"_qs;
        QTest::newRow("nothing created") << 2 << u"The scanner control could not be created"_qs;
    }
    void failingCreatorGivesItsText() {
        QFETCH(int, failure);
        QFETCH(QString, text);
        RegisterScannerControl(kTestClassId, [failure](QObject*) -> std::unique_ptr<TDsd> {
            if (failure == 0)
                throw std::runtime_error("driver missing");
            if (failure == 1)
                throw ScannerControlError(u"Ingen skanner"_qs);
            return nullptr;
        });
        QCOMPARE(creationError(kTestClassId), text);
    }

    void registeringReplacesAndReturnsThePrevious() {
        QVERIFY(
            !RegisterScannerControl(kTestClassId, [](QObject* p) { return std::make_unique<StubDsd>(p); }));
        const ScannerControlCreator previous = RegisterScannerControl(
            kTestClassId, [](QObject*) -> std::unique_ptr<TDsd> { throw std::runtime_error("second"); });
        QVERIFY(previous);
        QCOMPARE(creationError(kTestClassId), u"second"_qs);
        UnregisterScannerControl(kTestClassId);
        QCOMPARE(creationError(kTestClassId), u"Class not registered"_qs);
    }

    void simulatedDriverIsTheScannerControl() {
        TestEnvironment env;
        RegisterSimulatedDriver();
        const std::unique_ptr<TDsd> control = CreateScannerControl(CLASS_Dsd, nullptr);
        QVERIFY(qobject_cast<TSimulatedDsd*>(control.get()));
        QCOMPARE(control->OpenScanner(8, 0, {}), ScannerCode::Ok);
        QCOMPARE(control->GetScannerStatus(), ScannerCode::Connected);
    }

    void simulatedDriverCanBeMadeToFail_data() {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("text");
        QTest::newRow("standard text") << u"1"_qs << u"Class not registered"_qs;
        QTest::newRow("own text") << u"Drivrutinen saknas"_qs << u"Drivrutinen saknas"_qs;
    }
    void simulatedDriverCanBeMadeToFail() {
        QFETCH(QString, setting);
        QFETCH(QString, text);
        TestEnvironment env;
        env.setVariable("KELVO_SIM_FAIL_CREATE", setting);
        RegisterSimulatedDriver();
        QCOMPARE(creationError(CLASS_Dsd), text);
    }
};

QTEST_MAIN(TestDsdFactory)
#include "tst_dsdfactory.moc"
