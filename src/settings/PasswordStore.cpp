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

QString TPasswordStore::TokenKey(const QString& account, const QString& server)
{
    return QStringLiteral("token ") + Key(account, server);
}

QString TPasswordStore::ClientKey(const QString& clientId, const QString& server)
{
    return QStringLiteral("client ") + Key(clientId, server);
}

QList<TPasswordStore::TEntry> TPasswordStore::Entries(const TMainState& state)
{
    QList<TEntry> entries{{TSecret::Password, Key(state.AccountName, state.ApiBase), state.Password}};
    if (state.Fediverse) {
        entries.append({TSecret::Token, TokenKey(state.AccountName, *state.Fediverse), state.Token});
        if (state.ClientId && !state.ClientId->isEmpty())
            entries.append({TSecret::ClientSecret, ClientKey(*state.ClientId, *state.Fediverse), state.ClientSecret});
    }
    return entries;
}

bool TPasswordStore::StartRead(const TMainState& state)
{
    if (!UsesKeyring() || m_busy || state.AccountName.isEmpty())
        return false;
    m_toRead.clear();
    for (const TEntry& entry : Entries(state)) {
        if (entry.Password.isEmpty())
            m_toRead.append({entry.Secret, entry.Key, QString()});
    }
    if (m_toRead.isEmpty())
        return false;
    for (QString& answer : m_read)
        answer.clear();
    m_busy = true;
    ReadNext();
    return true;
}

void TPasswordStore::ReadNext()
{
    if (!m_toRead.isEmpty()) {
        StartJob(TJobKind::Read, m_toRead.takeFirst());
        return;
    }
    m_busy = false;
    Q_EMIT SecretsRead(m_read[int(TSecret::Token)], m_read[int(TSecret::ClientSecret)]);
    Q_EMIT PasswordRead(m_read[int(TSecret::Password)]);
}

bool TPasswordStore::Save(const QString& fileName, const TMainState& state, const QRect& bounds, QString* error,
                          TSettingsFolder folder)
{
    // Without an account there is no key: the file keeps whatever secrets there are.
    const bool keyring = UsesKeyring() && !state.AccountName.isEmpty();
    const QList<TEntry> entries = Entries(state);
    TMainState toFile = state;
    for (const TEntry& entry : entries) {
        if (!keyring || !m_held.contains(entry.Key) || m_held.value(entry.Key) != entry.Password)
            continue;
        switch (entry.Secret) {
        case TSecret::Password: toFile.Password.clear(); break;
        case TSecret::Token: toFile.Token.clear(); break;
        case TSecret::ClientSecret: toFile.ClientSecret.clear(); break;
        }
    }
    const bool written = SaveSettings(fileName, toFile, bounds, error, folder);
    // During the start-up read the secrets are not known yet: nothing may overwrite them.
    if (keyring && !ReadingNow()) {
        bool more = false;
        for (const TEntry& entry : entries) {
            if (!m_held.contains(entry.Key) || m_held.value(entry.Key) != entry.Password) {
                m_wanted.insert(entry.Key, entry.Password);
                more = true;
            }
        }
        if (more && !m_busy)
            WriteNext();
    }
    return written;
}

bool TPasswordStore::WriteNext()
{
    for (auto it = m_wanted.cbegin(); it != m_wanted.cend(); ++it) {
        if (!m_held.contains(it.key()) || m_held.value(it.key()) != it.value()) {
            StartJob(TJobKind::Write, {TSecret::Password, it.key(), it.value()});
            return true;
        }
    }
    return false;
}

void TPasswordStore::StartJob(TJobKind kind, const TEntry& entry)
{
    m_busy = true;
    m_jobKind = kind;
    m_jobEntry = entry;
    if (kind == TJobKind::Write)
        m_held.remove(entry.Key);  // until the keyring confirms, it may hold either
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
        const QString value
            = error == QKeychain::NoError ? static_cast<QKeychain::ReadPasswordJob*>(job)->textData() : QString();
        m_held.insert(m_jobEntry.Key, value);
        m_read[int(m_jobEntry.Secret)] = value;
        ReadNext();
        return;
    }
    // Taking out an entry that is not there leaves the keyring as wanted.
    if (error != QKeychain::NoError && !(error == QKeychain::EntryNotFound && m_jobEntry.Password.isEmpty())) {
        GiveUp(job->errorString());
        return;
    }
    m_busy = false;
    m_held.insert(m_jobEntry.Key, m_jobEntry.Password);
    if (!WriteNext())
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
    if (reading) {
        m_toRead.clear();
        Q_EMIT SecretsRead(m_read[int(TSecret::Token)], m_read[int(TSecret::ClientSecret)]);
        Q_EMIT PasswordRead(m_read[int(TSecret::Password)]);
    }
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
