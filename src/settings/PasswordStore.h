#pragma once

#include "settings/Settings.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QRect>
#include <QString>
#include <QTimer>

#include <optional>

namespace QKeychain {
class Job;
}

// Where the settings' secrets are kept: scrambled in the settings file, or in the
// desktop's keyring (the Secret Service, the system's credential store) under the
// program's name, with their keys left empty in the file. The password's key is made of
// the account and the service address; a fediverse server's access token is keyed by the
// account and that server, the program's client secret by its client id and the server.
//
// The keyring answers through the event loop, within a time limit. Any failure (no
// keyring, a locked one, no answer in time) turns it off for the rest of the run: the
// password then stays in the file, and KeyringUnusable says so once. "PWD" is written
// empty only once the keyring has confirmed that it holds the password, so a process
// that ends at any moment leaves the password in one of the two.
class TPasswordStore : public QObject {
    Q_OBJECT
public:
    static constexpr int kTimeLimitMs = 5000;
    // The keyring's service name for the program's entries.
    static const QString kService;

    // keyring: the password goes to the keyring (ChoosesKeyring); false keeps it in the file.
    explicit TPasswordStore(bool keyring, QObject* parent = nullptr, int timeLimitMs = kTimeLimitMs);
    ~TPasswordStore() override;

    // The keyring is chosen and has not failed in this run.
    bool UsesKeyring() const { return m_keyring && !m_unusable; }
    // Once the keyring has failed, the line that says the password stays in the file.
    QString Note() const;

    // The keyring's key for an account on a service.
    static QString Key(const QString& account, const QString& apiBase);
    // The keys of a fediverse server's access token and of the program's client secret.
    static QString TokenKey(const QString& account, const QString& server);
    static QString ClientKey(const QString& clientId, const QString& server);

    // At start-up, for settings (their ApiBase set) that name an account and lack a
    // secret the keyring may hold: asks the keyring for each. True when the answers are
    // awaited: SecretsRead, then PasswordRead, follow, always from the event loop.
    bool StartRead(const TMainState& state);

    // Writes the settings file as SaveSettings does, with each secret empty when the
    // keyring holds state's value and scrambled otherwise; then, for each the keyring
    // does not hold yet, starts writing it there (Stored follows the last). An empty
    // value is taken out of the keyring the same way.
    bool Save(const QString& fileName, const TMainState& state, const QRect& bounds, QString* error = nullptr,
              TSettingsFolder folder = TSettingsFolder::MustExist);

    // A keyring write is under way: Stored or KeyringUnusable ends it, each job within
    // the time limit. After Stored, a save leaves the password out of the file.
    bool Writing() const { return m_busy && m_jobKind == TJobKind::Write; }

Q_SIGNALS:
    // The answer to StartRead: the keyring's token and client secret, or empty (none there,
    // or no keyring); PasswordRead follows at once.
    void SecretsRead(const QString& token, const QString& clientSecret);
    // The answer to StartRead: the keyring's password, or empty (none there, or no keyring).
    void PasswordRead(const QString& password);
    // The keyring holds the password last saved.
    void Stored();
    // The keyring failed; once in a run, with Note().
    void KeyringUnusable(const QString& note);

private:
    enum class TSecret { Password, Token, ClientSecret };
    struct TEntry {
        TSecret Secret = TSecret::Password;
        QString Key;
        QString Password;
        bool operator==(const TEntry&) const = default;
    };
    enum class TJobKind { Read, Write };
    static QList<TEntry> Entries(const TMainState& state);
    void StartJob(TJobKind kind, const TEntry& entry);
    bool WriteNext();
    void ReadNext();
    void JobFinished(QKeychain::Job* job);
    void GiveUp(const QString& why);
    void DropJob();
    bool ReadingNow() const { return m_busy && m_jobKind == TJobKind::Read; }

    bool m_keyring = false;
    bool m_unusable = false;
    int m_timeLimitMs = kTimeLimitMs;
    QTimer m_limit;
    bool m_busy = false;                 // a job (or its failure) is under way
    QKeychain::Job* m_job = nullptr;     // it deletes itself once started and done
    bool m_jobStarted = false;
    TJobKind m_jobKind = TJobKind::Read;
    TEntry m_jobEntry;
    QHash<QString, QString> m_held;      // key -> what the keyring was seen to hold; absent: unknown
    QHash<QString, QString> m_wanted;    // key -> what the last saves asked it to hold
    QList<TEntry> m_toRead;              // StartRead's entries not asked yet
    QString m_read[3];                   // StartRead's answers so far, by TSecret
};
