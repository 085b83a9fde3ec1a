#pragma once

#include "monitor/AlertWords.h"
#include "monitor/Outlet.h"
#include "push/PushChannels.h"

#include <QObject>

class Clock;
class Settings;

// Pushes to ntfy, a webhook and a Telegram chat: each alert pass that fired, each recovered
// notice, reminder and acknowledgement, to the channels the settings name, in the user's own
// words when there are any.
class PushOutlet : public QObject, public Outlet {
    Q_OBJECT
public:
    PushOutlet(Settings& settings, const AlertWords& words, const QString& folder,
               const Clock& clock, QObject* parent = nullptr);

    void take(const AlertEvent& event) override;
    // One push to each configured channel, each answered by testFinished().
    void sendTest(const Reading& reading, qint64 timeMs);
    void close();
    PushChannels& channels() { return *m_channels; }

signals:
    void finished(const PushResult& result);
    void testFinished(const PushResult& result);
    void note(const QString& text);

private:
    PushNotice notice(const QString& event, const AlertEvent& what) const;
    void followTelegram();

    Settings& m_settings;
    const AlertWords& m_words;
    PushChannels* m_channels;
};
