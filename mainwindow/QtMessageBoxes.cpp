#include "mainwindow/QtMessageBoxes.h"

#include <QMessageBox>

void QtMessageBoxes::showOk(QWidget* parent, Icon icon, const QString& title, const QString& text) {
    QMessageBox::Icon shown = QMessageBox::NoIcon;
    if (icon == Icon::Critical)
        shown = QMessageBox::Critical;
    else if (icon == Icon::Information)
        shown = QMessageBox::Information;
    QMessageBox box(shown, title, text, QMessageBox::Ok, parent);
    box.exec();
}
