#pragma once

#include "gui/ZarvikApplication.h"

#include <QTest>

// main() for tests that need the program's own application object.
#define ZARVIK_APP_TEST_MAIN(TestClass)                                                            \
    int main(int argc, char* argv[])                                                               \
    {                                                                                              \
        ZarvikApplication app(argc, argv);                                                         \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
