#pragma once

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QRadioButton;
class QSlider;
class QWidget;

// The fields the manual send window and the automatic mail dialog share: recipients, subject,
// body, the picture switch, the three picture sizes and the JPEG quality slider. Both dialogs
// must present them alike, so they are made in one place; each dialog lays them out itself.
struct MailFormControls {
    QLineEdit* txtMail;
    QLineEdit* txtSubject;
    QPlainTextEdit* txtBody;
    QCheckBox* chkGrp;
    QRadioButton* optSize[3];
    QSlider* SliderArc;
    QWidget* sizeGroup; // the frame holding optSize
};

// Creates the controls as children of `parent`: size 0 selected, quality at its design value 50.
MailFormControls CreateMailFormControls(QWidget* parent);
