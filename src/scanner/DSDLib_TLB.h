#pragma once

// The device maker's scanner control as the program sees it: the operations it calls, the
// end-of-image event it listens to, and the factory that creates a control by its class id.

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <stdexcept>

// Class id under which the scanner control is registered.
inline const QString CLASS_Dsd = QStringLiteral("{F56A37C5-7049-11D0-9A3F-00C095ED7DD4}");

// The scanner control. Every operation returns a scanner code (1 is success, the words are in
// ScannerStatus.h) except GetImageParms; all are called on the user-interface thread, and
// OnEndOfImage is raised there too, from the event loop, never inside an operation.
class TDsd : public QObject {
    Q_OBJECT
public:
    explicit TDsd(QObject* parent = nullptr);
    ~TDsd() override;

    virtual qint32 OpenScanner(qint32 scannertype, qint32 options, const QString& workDir) = 0;
    virtual qint32 CloseScanner() = 0;
    virtual qint32 GetScannerStatus() = 0;
    // imageFormat = depth * 65536 + format (1 RAW, 2 DIB, 3 DICOM); depth 8 or 12.
    virtual qint32 SetImageFormat(qint32 imageFormat) = 0;
    virtual qint32 SetImageStore(const QString& imageStore) = 0;
    virtual qint32 ActivateScan(qint32 options) = 0;
    // Lines of "key value" on the last image: "DEVICE ", "IMAGETYPE ", "PIXELSIZEH ", "MAGFACTOR ", ...
    virtual QString GetImageParms() = 0;
    virtual qint32 GetScannerVersion() = 0;
    virtual qint32 DiscardImage() = 0;
    virtual qint32 ActivateSetup(qint32 options) = 0;

Q_SIGNALS:
    // scanStatus 1: the file named by SetImageStore is complete; any other value is an error code.
    void OnEndOfImage(QObject* sender, int scanStatus);
};

// A control that could not be created; text() is the reason shown to the user.
class ScannerControlError : public std::runtime_error {
public:
    explicit ScannerControlError(const QString& text);
    QString text() const { return m_text; }

private:
    QString m_text;
};

// Makes a control. It may throw (any std::exception) to refuse; the text then reaches the user.
using ScannerControlCreator = std::function<std::unique_ptr<TDsd>(QObject* parent)>;

// Registers the creator for a class id (letter case and braces as in CLASS_Dsd, compared without
// regard to letter case) and returns the creator it replaces, empty when there was none.
ScannerControlCreator RegisterScannerControl(const QString& classId, ScannerControlCreator creator);
void UnregisterScannerControl(const QString& classId);

// Creates the control registered for `classId`. `parent` only places the control in the object
// tree; the caller owns it through the returned pointer, which must be released before `parent`
// deletes its children (a member of the parent does that). Throws ScannerControlError for an
// unknown class id and for a creator that fails.
std::unique_ptr<TDsd> CreateScannerControl(const QString& classId, QObject* parent);
