#include "app/Shell.h"

#include "alert/SmtpClient.h"
#include "app/FormZARVIK_Mail.h"
#include "app/OwnMessageBox.h"
#include "app/SignalCloser.h"
#include "app/WatchOutputs.h"
#include "settings/SettingsStore.h"
#include "settings/ToolSettingDlg.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QTimer>

Shell::Shell(const QString& settingsPath)
    : m_form(std::make_unique<TFormZARVIK_Mail>(settingsPath))
{
    m_dialog = new TToolSettingDlg(m_form.get());
    SettingsStore::loadSettings(settingsPath, *m_dialog, &m_readProblem);
    // Only a server to log in to has a password worth asking the keyring for.
    if (!m_dialog->EdtMailSrv->text().trimmed().isEmpty() &&
        !m_dialog->EdtMailId->text().trimmed().isEmpty())
        m_dialog->loadPassword();
    m_form->attachSettingsDialog(m_dialog);
    m_watch = std::make_unique<WatchOutputs>(*m_form, *m_dialog);
    m_signalCloser =
        std::make_unique<SignalCloser>([form = m_form.get()] { form->closeBySignal(); });
}

Shell::~Shell() = default;

QString Shell::defaultSettingsPath()
{
    return SettingsStore::settingsPathFor(QCoreApplication::applicationFilePath());
}

void Shell::show()
{
    m_form->show();
    // Once the window is up, so neither start-up nor the first alert waits for it.
    QTimer::singleShot(0, m_form.get(), [] { SmtpClient::prepare(); });
    if (m_readProblem.isEmpty())
        return;
    // Told once the window is up; the file is kept as a backup before it is next replaced.
    QTimer::singleShot(0, m_form.get(), [form = m_form.get(), problem = m_readProblem] {
        OwnMessageBox::show(QMessageBox::Warning, form->windowTitle(),
                            QStringLiteral("%1\nThe file will be kept as a backup beside it "
                                           "before it is next saved.")
                                .arg(problem));
    });
}
