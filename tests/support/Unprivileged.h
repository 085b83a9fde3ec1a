#pragma once

#include <QtGlobal>
#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

struct User {
    uid_t uid;
    gid_t gid;
};

// Who the permission tests act as: ourselves, or "nobody" when running as root.
inline User unprivilegedUser()
{
    if (::geteuid() != 0)
        return {::geteuid(), ::getegid()};
    const passwd* pw = ::getpwnam("nobody");
    return pw ? User{pw->pw_uid, pw->pw_gid} : User{65534, 65534};
}

// Root reads and writes whatever the permission bits say. To see them bite, a test acts as
// the unprivileged user while this lives; root's effective ids come back at the end.
class Unprivileged {
public:
    Unprivileged()
    {
        if (!m_root)
            return;
        const User user = unprivilegedUser();
        m_ok = ::setegid(user.gid) == 0 && ::seteuid(user.uid) == 0;
    }
    ~Unprivileged()
    {
        if (m_root && (::seteuid(0) != 0 || ::setegid(0) != 0))
            qFatal("cannot return to root");
    }
    Unprivileged(const Unprivileged&) = delete;
    Unprivileged& operator=(const Unprivileged&) = delete;
    bool ok() const { return m_ok; }

private:
    bool m_root = ::geteuid() == 0;
    bool m_ok = true;
};
