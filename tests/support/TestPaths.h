#pragma once

#include <QString>

// Where the test peers live; ctest passes these in the environment.
namespace TestPaths {
QString simulator(); // the simulated board executable
QString python();    // a python3 that has aiosmtpd
QString toolsDir();  // the source tools/ folder
} // namespace TestPaths
