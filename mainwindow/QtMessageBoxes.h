#pragma once

#include "settings/MessageBoxes.h"

// The real boxes (QMessageBox::exec).
class QtMessageBoxes : public MessageBoxes {
public:
    void showOk(QWidget* parent, Icon icon, const QString& title, const QString& text) override;
};
