#pragma once

#include <QByteArray>
#include <QString>
#include <cstdio>
#include <cstdlib>

// A broken invariant aborts, which libFuzzer reports as a crash and keeps the input for.
[[noreturn]] inline void fuzzFail(const char* condition, const char* file, int line,
                                  const QByteArray& detail)
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n%s\n", file, line, condition,
                 detail.constData());
    std::abort();
}

[[noreturn]] inline void fuzzFail(const char* condition, const char* file, int line,
                                  const QString& detail)
{
    fuzzFail(condition, file, line, detail.toUtf8());
}

// The detail is built only when the check fails.
#define FUZZ_CHECK(condition, detail)                                                              \
    do {                                                                                           \
        if (!(condition))                                                                          \
            fuzzFail(#condition, __FILE__, __LINE__, (detail));                                    \
    } while (false)
