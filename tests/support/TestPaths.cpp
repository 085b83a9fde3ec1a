#include "support/TestPaths.h"

#include <QProcessEnvironment>

namespace {
QString fromEnv(const char* name, const QString& fallback)
{
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? fallback : value;
}
} // namespace

namespace TestPaths {
QString simulator()
{
    return fromEnv("ZARVIK_SIM", QStringLiteral("zarvik-sim"));
}
QString python()
{
    return fromEnv("ZARVIK_PYTHON", QStringLiteral("/usr/bin/python3"));
}
QString toolsDir()
{
    return fromEnv("ZARVIK_TOOLS", QStringLiteral("tools"));
}
} // namespace TestPaths
