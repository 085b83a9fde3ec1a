#pragma once

#include <QApplication>

// The application object. It catches any error that escapes an event handler at the event-loop
// boundary and shows it in the standard error report, so no exception unwinds through Qt.
class ZarvikApplication : public QApplication {
    Q_OBJECT
public:
    ZarvikApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
