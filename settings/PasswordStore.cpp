#include "settings/PasswordStore.h"

#include <QTimer>
#include <memory>
#include <qt6keychain/keychain.h>
#include <utility>

namespace {

const QString Service = QStringLiteral("ZARVIK Mail");

} // namespace

PasswordStore::PasswordStore(QObject* parent)
    : QObject(parent)
{
}

QString PasswordStore::keyFor(const QString& server, const QString& user)
{
    return user.trimmed() + u'@' + server.trimmed();
}

void PasswordStore::noteFailure(int code, const QString& why)
{
    using namespace QKeychain;
    if (code != NoBackendAvailable && code != NotImplemented && code != AccessDenied &&
        code != AccessDeniedByUser && code != OtherError)
        return;
    if (m_unavailableWhy.isEmpty()) {
        m_unavailableWhy = why.isEmpty() ? QStringLiteral("no keyring") : why;
        emit unavailable(m_unavailableWhy);
    }
}

void PasswordStore::load(const QString& key, int waitMs)
{
    const quint64 id = ++m_loads;
    m_loading = id;
    const auto answer = [this, id] {
        if (m_loading != id)
            return;
        m_loading = 0;
        emit answered();
    };
    QTimer::singleShot(waitMs, this, [this, id, answer, waitMs] {
        if (m_loading != id)
            return;
        noteFailure(QKeychain::OtherError,
                    QStringLiteral("the keyring did not answer within %1 s").arg(waitMs / 1000));
        answer();
    });
    // Never parented nor deleted while running: the keyring's reply may come after we are gone,
    // and QtKeychain's libsecret back end then still calls into the job.
    auto* job = new QKeychain::ReadPasswordJob(Service);
    job->setAutoDelete(true);
    job->setKey(key);
    connect(job, &QKeychain::Job::finished, this, [this, key, answer](QKeychain::Job* done) {
        const auto* read = static_cast<QKeychain::ReadPasswordJob*>(done);
        if (read->error() == QKeychain::NoError || read->error() == QKeychain::EntryNotFound) {
            m_key = key;
            m_kept = read->error() == QKeychain::NoError ? read->textData() : QString();
            m_known = true;
            if (!m_kept.isEmpty())
                emit loaded(m_kept);
        } else {
            noteFailure(read->error(), read->errorString());
        }
        answer();
    });
    job->start();
}

void PasswordStore::report(bool ok, const QString& why)
{
    const QString error =
        ok ? QString()
           : QStringLiteral("The mail password could not be kept in the keyring: ") + why;
    // Queued, so that a caller hears the outcome the same way whether the keyring was asked.
    QMetaObject::invokeMethod(
        this, [this, ok, error] { emit stored(ok, error); }, Qt::QueuedConnection);
}

void PasswordStore::store(const QString& key, const QString& password, int waitMs)
{
    if (m_known && key == m_key && password == m_kept)
        return report(true);
    if (password.isEmpty() && !m_known)
        return report(true); // nothing typed, nothing known: leave the keyring alone
    if (!isAvailable())
        return report(false, m_unavailableWhy);
    QKeychain::Job* job;
    if (password.isEmpty()) {
        job = new QKeychain::DeletePasswordJob(Service);
    } else {
        auto* write = new QKeychain::WritePasswordJob(Service);
        write->setTextData(password);
        job = write;
    }
    job->setAutoDelete(true); // see load()
    job->setKey(key);
    // Whichever comes first, the job's answer or the bound, reports; the other finds it done.
    auto done = std::make_shared<bool>(false);
    QTimer::singleShot(waitMs, this, [this, done] {
        if (std::exchange(*done, true))
            return;
        report(false, QStringLiteral("the keyring did not answer"));
    });
    connect(job, &QKeychain::Job::finished, this,
            [this, done, key, password](QKeychain::Job* finished) {
                if (std::exchange(*done, true))
                    return;
                const QKeychain::Error code = finished->error();
                if (code != QKeychain::NoError &&
                    !(password.isEmpty() && code == QKeychain::EntryNotFound)) {
                    noteFailure(code, finished->errorString());
                    return report(false, finished->errorString());
                }
                m_key = key;
                m_kept = password;
                m_known = true;
                report(true);
            });
    job->start();
}
