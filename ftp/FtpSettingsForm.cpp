#include "ftp/FtpSettingsForm.h"

#include "ftp/FtpHostForm.h"
#include "settings/basCommon.h"

#include <optional>

bool SplitFtpHostField(FtpFormInput& fields) {
    const std::optional<FtpHostParts> parts = ParseFtpHost(fields.host);
    if (!parts)
        return false;
    fields.host = FtpHostStoredForm(*parts);
    if (parts->user)
        fields.user = *parts->user;
    if (parts->pass)
        fields.pass = *parts->pass;
    if (parts->folder)
        fields.folder = *parts->folder;
    return true;
}

FtpFormOutcome CheckFtpFormInput(const FtpFormInput& in) {
    FtpFormOutcome out;
    out.shown = in;
    auto fail = [&out](FtpFormField field, const char* message) {
        out.field = field;
        out.message = message;
        return out;
    };
    if (in.upload && TrimSpaces(in.host).empty())
        return fail(FtpFormField::Host, "ﾎｽﾄ名を入力して下さい。");
    const std::pair<const std::string*, std::pair<FtpFormField, const char*>> texts[] = {
        {&in.host, {FtpFormField::Host, "ﾎｽﾄ名に制御文字は使えません。"}},
        {&in.user, {FtpFormField::User, "ﾕｰｻﾞｰ名に制御文字は使えません。"}},
        {&in.pass, {FtpFormField::Pass, "ﾊﾟｽﾜｰﾄﾞに制御文字は使えません。"}},
        {&in.folder, {FtpFormField::Folder, "ﾎｽﾄの保存先ﾌｫﾙﾀﾞに制御文字は使えません。"}}};
    for (const auto& [text, error] : texts)
        if (HasControlCharacter(*text))
            return fail(error.first, error.second);
    if (!SplitFtpHostField(out.shown) && in.upload)
        return fail(FtpFormField::Host, "ﾎｽﾄ名の形式が正しくありません。");

    FtpSettings& ftp = out.settings;
    ftp.Move = in.makeAvi;
    ftp.Ftp = in.upload;
    ftp.Host = TrimSpaces(out.shown.host);
    ftp.User = TrimSpaces(out.shown.user);
    ftp.Pass = TrimSpaces(out.shown.pass);
    ftp.Holder = TrimSpaces(out.shown.folder);
    ftp.FileName = in.fixedName;
    ftp.Time = in.seconds;
    ftp.Audio = in.audio;
    return out;
}
