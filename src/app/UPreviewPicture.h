#pragma once

// The preview of a finished image, in which the user keeps or discards it.

#include <QDialog>
#include <QImage>

class QPushButton;
class QWidget;

// Shows a picture centred in the area it is given, scaled down proportionally when it is
// larger than the area and never scaled up.
class TPreviewImage : public QWidget {
    Q_OBJECT
public:
    explicit TPreviewImage(QWidget* parent = nullptr);

    void SetPicture(const QImage& picture);
    const QImage& Picture() const { return m_picture; }
    // Where the picture is drawn within the widget; empty without a picture.
    QRect PictureRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_picture;
};

class TfrmPreviewPicture : public QDialog {
    Q_OBJECT
public:
    explicit TfrmPreviewPicture(QWidget* parent = nullptr);

    // Loads a DIB file into PictureView; false with `error` set when it cannot be read, and the
    // window then shows no picture.
    bool LoadPicture(const QString& fileName, QString* error);

    // The controls; the designer's names are their object names.
    TPreviewImage* PictureView; // Image1
    QWidget* ButtonPanel;       // Panel1
    QPushButton* SaveButton;    // BitBtn1: "Save picture", accepts
    QPushButton* DiscardButton; // BitBtn2: "Discard picture", rejects
};
