#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QtGlobal>

// One correct reply of the board, as a value for everyone who listens.
struct Reading {
    qint64 timeMs = 0;           // when it came, on the clock's wall time
    long double temperature = 0; // degrees Celsius
    bool rb1 = false;
    bool rb0 = false;
    QByteArray raw; // the reply's bytes as they came
};
Q_DECLARE_METATYPE(Reading)
