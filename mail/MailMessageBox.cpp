#include "mail/MailMessageBox.h"

#include "mail/MailAccount.h"

#include <QMessageBox>

namespace {

class QtMailMessageBox : public MailMessageBox {
public:
    void show(QWidget* parent, Icon icon, const QString& title, const QString& text) override {
        QMessageBox box(icon == Icon::Critical ? QMessageBox::Critical : QMessageBox::Information,
                        title, text, QMessageBox::Ok, parent);
        box.exec();
    }
};

MailMessageBox* g_override = nullptr;

} // namespace

MailMessageBox& CurrentMailMessageBox() {
    static QtMailMessageBox real;
    return g_override ? *g_override : real;
}

void SetMailMessageBox(MailMessageBox* boxes) {
    g_override = boxes;
}

bool CheckMailAccount(QWidget* parent) {
    const std::string problem = MailAccountProblem();
    if (problem.empty())
        return true;
    CurrentMailMessageBox().show(parent, MailMessageBox::Icon::Critical,
                                 QString::fromUtf8("ﾒｰﾙ送信元ﾁｪｯｸ"),
                                 QString::fromStdString(problem));
    return false;
}
