#pragma once

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>

// Reads command lines from stdin without blocking the event loop. At end of input it just stops
// reading, so the simulator keeps serving when started with stdin closed or redirected.
class ConsoleReader : public QObject {
    Q_OBJECT

public:
    explicit ConsoleReader(QObject* parent = nullptr);

signals:
    void lineRead(const QString& line);

private:
    void readAvailable();
    void emitLines(bool atEnd);

    QSocketNotifier* m_notifier = nullptr;
    QByteArray m_buffer;
};

// One line on stdout, flushed at once so a parent process sees it immediately.
void printLine(const QString& line);
void printError(const QString& line);
