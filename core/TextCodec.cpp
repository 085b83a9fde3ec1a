#include "core/TextCodec.h"

#include <cerrno>
#include <iconv.h>

namespace TextCodec {

std::optional<QByteArray> convert(const QByteArray& bytes, const char* from, const char* to)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;

    QByteArray out;
    out.resize(bytes.size() * 4 + 16);
    char* in = const_cast<char*>(bytes.constData());
    size_t inLeft = size_t(bytes.size());
    char* outPtr = out.data();
    size_t outLeft = size_t(out.size());
    bool ok = true;
    // A second call with no input flushes shift states (ISO-2022-JP's return to ASCII).
    for (bool flushing = false;; flushing = true) {
        size_t rc = flushing ? iconv(cd, nullptr, nullptr, &outPtr, &outLeft)
                             : iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        if (rc != size_t(-1)) {
            if (flushing)
                break;
            continue;
        }
        if (errno != E2BIG) {
            ok = false;
            break;
        }
        const qsizetype used = outPtr - out.data();
        out.resize(out.size() * 2);
        outPtr = out.data() + used;
        outLeft = size_t(out.size() - used);
    }
    iconv_close(cd);
    if (!ok)
        return std::nullopt;
    out.resize(outPtr - out.data());
    return out;
}

std::optional<QString> fromCp932(const QByteArray& bytes)
{
    const auto utf8 = convert(bytes, "CP932", "UTF-8");
    if (!utf8)
        return std::nullopt;
    return QString::fromUtf8(*utf8);
}

std::optional<QByteArray> toCp932(const QString& text)
{
    return convert(text.toUtf8(), "UTF-8", "CP932");
}

} // namespace TextCodec
