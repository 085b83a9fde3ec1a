#pragma once

#include <QString>

// The status page's password as the settings keep it: a salted yescrypt hash ("$y$...", what
// Debian uses for its own logins and `mkpasswd -m yescrypt` makes), never the password itself.
namespace PasswordHash {

// A new hash under a fresh random salt; empty when the password is empty or holds a NUL
// (crypt(3) would see only what comes before it), or when the system cannot make one.
QString hash(const QString& password);
// Whether `password` is the one `stored` was made from. An empty or malformed `stored` (another
// method than yescrypt included) never matches; the comparison takes the same time wherever the
// two differ.
bool verify(const QString& password, const QString& stored);

} // namespace PasswordHash
