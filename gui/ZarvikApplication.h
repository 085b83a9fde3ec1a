#pragma once

#include <QApplication>

// The application object. Every handler runs inside an event delivery, the idle pass included,
// so notify() is the one place where an error that escapes a handler is caught and reported;
// no exception unwinds further through Qt.
class ZarvikApplication : public QApplication {
    Q_OBJECT
public:
    ZarvikApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
