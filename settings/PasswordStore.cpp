#include "settings/PasswordStore.h"

#include <QEventLoop>
#include <QTimer>
#include <qt6keychain/keychain.h>

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

bool PasswordStore::store(const QString& key, const QString& password, QString* error, int waitMs)
{
    if (m_known && key == m_key && password == m_kept)
        return true;
    if (password.isEmpty() && !m_known)
        return true; // nothing typed, nothing known: leave the keyring alone
    const auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("The mail password could not be kept in the keyring: ") + why;
        return false;
    };
    if (!isAvailable())
        return fail(m_unavailableWhy);
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
    QEventLoop loop;
    bool finished = false;
    QKeychain::Error code = QKeychain::NoError;
    QString why;
    const auto connection = connect(job, &QKeychain::Job::finished, &loop, [&] {
        finished = true;
        code = job->error();
        why = job->errorString();
        loop.quit();
    });
    QTimer::singleShot(waitMs, &loop, &QEventLoop::quit);
    job->start();
    if (!finished)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    disconnect(connection);
    if (!finished)
        return fail(QStringLiteral("the keyring did not answer"));
    if (code != QKeychain::NoError && !(password.isEmpty() && code == QKeychain::EntryNotFound)) {
        noteFailure(code, why);
        return fail(why);
    }
    m_key = key;
    m_kept = password;
    m_known = true;
    return true;
}
