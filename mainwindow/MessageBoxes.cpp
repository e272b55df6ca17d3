#include "mainwindow/MessageBoxes.h"

#include <QMessageBox>

void QtMessageBoxes::showOk(QWidget* parent, Icon icon, const QString& title, const QString& text) {
    QMessageBox box(icon == Icon::Critical ? QMessageBox::Critical : QMessageBox::NoIcon, title,
                    text, QMessageBox::Ok, parent);
    box.exec();
}
