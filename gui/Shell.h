#pragma once

#include "settings/SettingsLocation.h"

#include <QObject>
#include <QString>
#include <memory>

class FormChart;
class Monitor;
class MqttPassword;
class Settings;
class TFormZARVIK_Mail;
class TToolSettingDlg;

// The program with its windows: reads the settings, starts the monitor (so the first request goes
// out before any widget is built), then makes the main window and the settings dialog, hidden.
// At close it saves the settings and keeps the passwords, then says finished().
class Shell : public QObject {
    Q_OBJECT
public:
    // Everything beside `settingsPath`.
    explicit Shell(const QString& settingsPath);
    explicit Shell(const SettingsLocation& where);
    ~Shell() override;

    void show();
    QString settingsPath() const { return m_where.settingsPath; }
    Settings& settings() const { return *m_settings; }
    Monitor* monitor() const { return m_monitor.get(); }
    TFormZARVIK_Mail* FormZARVIK_Mail() const { return m_form.get(); }
    TToolSettingDlg* ToolSettingDlg() const { return m_dialog; }
    // The trend window once "グラフ(&G)" first opened it, else null.
    FormChart* Chart() const { return m_chart; }
    // Set once closing is over: 1 when the settings could not be saved on a signal's close.
    int exitStatus() const { return m_exitStatus; }
    bool isFinished() const { return m_finished; }

signals:
    // Closing is over: the settings are saved and the password kept, or the reason was told.
    void finished(int exitStatus);

private:
    // The start-up sequence: settings, monitor, windows.
    void FormCreate();
    void openChart();
    void saveAtClose();
    void finish(const QString& error);

    SettingsLocation m_where;
    std::unique_ptr<Settings> m_settings;
    std::unique_ptr<Monitor> m_monitor;
    // The window's own: the service takes the broker's password from its credential only.
    std::unique_ptr<MqttPassword> m_mqttPassword;
    std::unique_ptr<TFormZARVIK_Mail> m_form;
    TToolSettingDlg* m_dialog = nullptr; // owned by the main window
    FormChart* m_chart = nullptr;        // owned by the main window, made when first opened
    QString m_readProblem;
    int m_exitStatus = 0;
    bool m_finished = false;
};
