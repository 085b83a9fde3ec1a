#pragma once

#include "monitor/KeptPassword.h"

// The mail password, kept under the bare "user@server" and given by "smtp-password".
class MailPassword : public KeptPassword {
public:
    static constexpr PasswordKeys Keys{Settings::MailServer,   Settings::MailUser,
                                       Settings::MailPassword, "",
                                       "smtp-password",        "mail goes"};

    explicit MailPassword(Settings& settings, QObject* parent = nullptr)
        : KeptPassword(settings, Keys, parent)
    {
    }
};
