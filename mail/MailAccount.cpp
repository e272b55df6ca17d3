#include "mail/MailAccount.h"

#include "settings/AppSettings.h"
#include "settings/MessageBoxes.h"

std::string MailAccountProblem() {
    const MailSettings& m = AppSettings.Mail;
    auto empty = [](const std::string& s) { return s.find_first_not_of(' ') == std::string::npos; };
    if (empty(m.Mail))
        return "ﾒｰﾙｱｶｳﾝﾄ設定のﾒｰﾙｱﾄﾞﾚｽを入力して下さい。";
    if (empty(m.Smtp))
        return "ﾒｰﾙｱｶｳﾝﾄ設定のSMTPｻｰﾊﾞｰ名を入力して下さい。";
    if (m.Att != "1")
        return {};
    if (m.OptAtt != "0") {
        if (empty(m.SmtpUser))
            return "ﾒｰﾙｱｶｳﾝﾄ設定のﾕｰｻﾞｰ名を入力して下さい。";
        if (empty(m.SmtpPass))
            return "ﾒｰﾙｱｶｳﾝﾄ設定のﾊﾟｽﾜｰﾄﾞを入力して下さい。";
    } else {
        if (empty(m.Pop))
            return "ﾒｰﾙｱｶｳﾝﾄ設定のPOPｻｰﾊﾞｰ名を入力して下さい。";
        if (empty(m.User))
            return "ﾒｰﾙｱｶｳﾝﾄ設定のﾕｰｻﾞｰ名を入力して下さい。";
        if (empty(m.Pass))
            return "ﾒｰﾙｱｶｳﾝﾄ設定のﾊﾟｽﾜｰﾄﾞを入力して下さい。";
    }
    return {};
}

bool CheckMailAccount(MessageBoxes& boxes, QWidget* parent) {
    const std::string problem = MailAccountProblem();
    if (problem.empty())
        return true;
    boxes.showOk(parent, MessageBoxes::Icon::Critical, QString::fromUtf8("ﾒｰﾙ送信元ﾁｪｯｸ"),
                 QString::fromStdString(problem));
    return false;
}
