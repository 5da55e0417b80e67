#include "settings/PasswordStore.h"

#include "settings/KeyringSession.h"
#include "text/Logging.h"

#include <QLoggingCategory>

#include <qt6keychain/keychain.h>

const QString TPasswordStore::kService = QStringLiteral("Brimlark_Simple");

TPasswordStore::TPasswordStore(bool keyring, QObject* parent, int timeLimitMs)
    : QObject(parent), m_keyring(keyring), m_timeLimitMs(timeLimitMs)
{
    m_limit.setSingleShot(true);
    connect(&m_limit, &QTimer::timeout, this,
            [this] { GiveUp(QStringLiteral("no answer within %1 ms").arg(m_timeLimitMs)); });
}

TPasswordStore::~TPasswordStore()
{
    DropJob();
}

QString TPasswordStore::Note() const
{
    return m_unusable ? tr("キーリングが使えないため、パスワードは設定ファイルに保存します") : QString();
}

QString TPasswordStore::Key(const QString& account, const QString& apiBase)
{
    return account + u'@' + apiBase;
}

bool TPasswordStore::StartRead(const TMainState& state)
{
    if (!UsesKeyring() || m_busy || state.AccountName.isEmpty() || !state.Password.isEmpty())
        return false;
    StartJob(TJobKind::Read, {Key(state.AccountName, state.ApiBase), QString()});
    return true;
}

bool TPasswordStore::Save(const QString& fileName, const TMainState& state, const QRect& bounds, QString* error,
                          TSettingsFolder folder)
{
    // Without an account there is no key: the file keeps whatever password there is.
    const bool keyring = UsesKeyring() && !state.AccountName.isEmpty();
    const TEntry entry{Key(state.AccountName, state.ApiBase), state.Password};
    TMainState toFile = state;
    if (keyring && m_held == entry)
        toFile.Password.clear();
    const bool written = SaveSettings(fileName, toFile, bounds, error, folder);
    // During the start-up read the password is not known yet: nothing may overwrite it.
    if (keyring && !ReadingNow() && m_held != entry) {
        m_wanted = entry;
        if (!m_busy)
            StartJob(TJobKind::Write, entry);
    }
    return written;
}

void TPasswordStore::StartJob(TJobKind kind, const TEntry& entry)
{
    m_busy = true;
    m_jobKind = kind;
    m_jobEntry = entry;
    if (kind == TJobKind::Write)
        m_held.reset();  // until the keyring confirms, it may hold either
    m_limit.start(m_timeLimitMs);
    const QString unreachable = KeyringUnreachable();
    if (!unreachable.isEmpty()) {
        // Reported from the event loop, as an answer would be.
        QTimer::singleShot(0, this, [this, unreachable] { GiveUp(unreachable); });
        return;
    }
    QKeychain::Job* job = nullptr;
    if (kind == TJobKind::Read) {
        job = new QKeychain::ReadPasswordJob(kService);
    } else if (entry.Password.isEmpty()) {
        job = new QKeychain::DeletePasswordJob(kService);
    } else {
        auto* write = new QKeychain::WritePasswordJob(kService);
        write->setTextData(entry.Password);
        job = write;
    }
    job->setKey(entry.Key);
    // The settings file is the only other place the password may be, and we write it.
    job->setInsecureFallback(false);
    m_job = job;
    m_jobStarted = false;
    connect(job, &QKeychain::Job::finished, this, &TPasswordStore::JobFinished);
    // Started from the event loop, so that no answer reaches a caller still setting up.
    QTimer::singleShot(0, this, [this, job] {
        if (m_job == job) {
            m_jobStarted = true;
            job->start();
        }
    });
}

void TPasswordStore::JobFinished(QKeychain::Job* job)
{
    if (job != m_job)
        return;
    m_limit.stop();
    m_job = nullptr;  // it deletes itself
    const QKeychain::Error error = job->error();
    if (m_jobKind == TJobKind::Read) {
        if (error != QKeychain::NoError && error != QKeychain::EntryNotFound) {
            GiveUp(job->errorString());
            return;
        }
        m_busy = false;
        const QString password
            = error == QKeychain::NoError ? static_cast<QKeychain::ReadPasswordJob*>(job)->textData() : QString();
        m_held = TEntry{m_jobEntry.Key, password};
        Q_EMIT PasswordRead(password);
        return;
    }
    // Taking out an entry that is not there leaves the keyring as wanted.
    if (error != QKeychain::NoError && !(error == QKeychain::EntryNotFound && m_jobEntry.Password.isEmpty())) {
        GiveUp(job->errorString());
        return;
    }
    m_busy = false;
    m_held = m_jobEntry;
    if (m_wanted && *m_wanted != *m_held) {
        StartJob(TJobKind::Write, *m_wanted);
        return;
    }
    Q_EMIT Stored();
}

void TPasswordStore::GiveUp(const QString& why)
{
    const bool reading = ReadingNow();
    m_limit.stop();
    DropJob();
    m_busy = false;
    if (m_unusable)
        return;
    m_unusable = true;
    qCWarning(lcSettings).noquote() << "keyring not usable, the password stays in the settings file:" << why;
    Q_EMIT KeyringUnusable(Note());
    if (reading)
        Q_EMIT PasswordRead(QString());
}

void TPasswordStore::DropJob()
{
    QKeychain::Job* job = std::exchange(m_job, nullptr);
    if (!job)
        return;
    job->disconnect(this);
    // A started job deletes itself when it ends, answered or not.
    if (!m_jobStarted)
        delete job;
}
