#include "web/PasswordHash.h"

#include <QByteArray>
#include <QList>
#include <algorithm>
#include <crypt.h>
#include <memory>

namespace {

constexpr char Prefix[] = "$y$";
constexpr qsizetype HashChars = 43; // yescrypt's 256 bits in crypt's base 64

bool isCryptBase64(const QByteArray& field)
{
    for (const char c : field) {
        const bool ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                        (c >= 'a' && c <= 'z') || c == '.' || c == '/';
        if (!ok)
            return false;
    }
    return !field.isEmpty();
}

// "$y$<parameters>$<salt>$<hash>", each field in crypt's alphabet.
bool wellFormed(const QByteArray& stored)
{
    if (!stored.startsWith(Prefix) || stored.size() >= CRYPT_OUTPUT_SIZE)
        return false;
    const QList<QByteArray> fields = stored.split('$');
    return fields.size() == 5 && isCryptBase64(fields[2]) && isCryptBase64(fields[3]) &&
           isCryptBase64(fields[4]) && fields[4].size() == HashChars;
}

// Runs over the whole of both whatever differs, so the time taken tells nothing of where.
bool sameInConstantTime(const QByteArray& a, const QByteArray& b)
{
    const qsizetype n = std::max(a.size(), b.size());
    unsigned difference = a.size() == b.size() ? 0u : 1u;
    for (qsizetype i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(i < a.size() ? a[i] : 0);
        const auto y = static_cast<unsigned char>(i < b.size() ? b[i] : 0);
        difference |= x ^ y;
    }
    return difference == 0;
}

// crypt_r's answer, or empty when it refused (it answers "*0" or "*1" then).
QByteArray cryptOf(const QByteArray& password, const char* setting)
{
    // crypt_data is tens of kilobytes: not for the stack.
    auto data = std::make_unique<crypt_data>();
    const char* out = crypt_r(password.constData(), setting, data.get());
    if (out == nullptr || out[0] == '*')
        return {};
    return QByteArray(out);
}

bool usable(const QString& password)
{
    return !password.isEmpty() && !password.contains(QChar(u'\0'));
}

} // namespace

QString PasswordHash::hash(const QString& password)
{
    if (!usable(password))
        return {};
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    // Count 0: libxcrypt's default cost; no random bytes given: it reads them from the system.
    if (crypt_gensalt_rn(Prefix, 0, nullptr, 0, setting, sizeof setting) == nullptr)
        return {};
    const QByteArray out = cryptOf(password.toUtf8(), setting);
    return wellFormed(out) ? QString::fromLatin1(out) : QString();
}

bool PasswordHash::verify(const QString& password, const QString& stored)
{
    const QByteArray expected = stored.toLatin1();
    if (!usable(password) || !wellFormed(expected))
        return false;
    return sameInConstantTime(cryptOf(password.toUtf8(), expected.constData()), expected);
}
