#include "service/TalkBack.h"

#include "http/HttpCli.h"
#include "service/ServicePost.h"

TTalkBack::TTalkBack(QObject* parent) : QObject(parent), m_client(new THttpCli(this))
{
    m_client->setObjectName(QStringLiteral("HttpCli1"));
}

void TTalkBack::Favorite(const TServiceAccount& account, const QString& statusId)
{
    if (Busy())
        return;
    m_job = m_route.Start(*m_client, account, statusId);
    connect(m_job, &TPostJob::Finished, this, [this, statusId](const TPostOutcome& outcome) {
        m_job = nullptr;
        Q_EMIT FavoriteEnded(statusId, outcome);
    });
}

void TTalkBack::Repeat(const TServiceAccount& account, const QString& statusId)
{
    if (Busy())
        return;
    m_job = StartRetweet(*m_client, account, statusId);
    connect(m_job, &TPostJob::Finished, this, [this, statusId](const TPostOutcome& outcome) {
        m_job = nullptr;
        Q_EMIT RepeatEnded(statusId, outcome);
    });
}

void TTalkBack::Abort()
{
    if (!m_job)
        return;
    m_job->disconnect(this);
    m_job->Abort();
    m_job = nullptr;
}
