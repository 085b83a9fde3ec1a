#pragma once

#include <QString>
#include <memory>

class FormChart;
class HistoryRecorder;
class TFormZARVIK_Mail;
class TToolSettingDlg;
class SignalCloser;
class WatchOutputs;

// Creates the two windows in their fixed order and keeps them until exit: the main window first
// (it restores its position and sends the first request), then the settings dialog, hidden,
// which loads the other settings.
class Shell {
public:
    explicit Shell(const QString& settingsPath);
    ~Shell();

    // The settings file beside the running executable.
    static QString defaultSettingsPath();

    void show();
    TFormZARVIK_Mail* FormZARVIK_Mail() const { return m_form.get(); }
    TToolSettingDlg* ToolSettingDlg() const { return m_dialog; }
    const WatchOutputs* watchOutputs() const { return m_watch.get(); }
    HistoryRecorder* History() const { return m_history.get(); }
    // The trend window once "グラフ(&G)" first opened it, else null.
    FormChart* Chart() const { return m_chart; }

private:
    void recordHistory();
    void openChart();

    std::unique_ptr<TFormZARVIK_Mail> m_form;
    TToolSettingDlg* m_dialog = nullptr; // owned by the main window
    std::unique_ptr<HistoryRecorder> m_history;
    FormChart* m_chart = nullptr; // owned by the main window, made when first opened
    std::unique_ptr<SignalCloser> m_signalCloser;
    std::unique_ptr<WatchOutputs> m_watch; // gone before the windows it listens to
    QString m_readProblem;
};
