#pragma once

#include "http/HttpCli.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class TReplyKeeper;

// How a status post, a favourite or a repeat ended.
struct TPostOutcome {
    enum TKind {
        Accepted,           // a 2xx reply that carries a status (document or JSON)
        NotStatus,          // a 2xx reply whose body is no status (a web page, nothing):
                            // nothing says the service kept anything
        HttpFailure,        // the service answered with another status
        ConnectionFailure,  // no answer from the service: no connection, a refused certificate,
                            // a proxy's refusal, a broken reply, the time limit, a busy client
    };
    TKind Kind = ConnectionFailure;
    int StatusCode = 0;
    QByteArray ReasonPhrase;
    QString NoReplyLine;    // ConnectionFailure: the one line that says what failed, where and why
    QString ServerText;     // HttpFailure: the service's own words about it, when its reply has them

    bool IsAccepted() const { return Kind == Accepted; }
};

// One post to the service on an event-driven client: one request, or a chain of them
// (a favourite that tries a second address). It reports through Finished exactly once,
// from the event loop, then deletes itself. It is a child of the client it runs on, so a
// client that goes away takes it along, unreported; a receiver that goes away is simply
// disconnected. The starters in ServicePost.h and FavoriteRoute.h make these.
class TPostJob : public QObject {
    Q_OBJECT
public:
    // One request of the chain, and the address its failure lines name.
    struct TStep {
        THttpCliRequest Request;
        QByteArray Url;
    };
    // Given how a step ended: the next step, or nothing to end the job with that outcome.
    using TNext = std::function<std::optional<TStep>(const TPostOutcome&)>;

    // Sends first on client (nothing: refused before anything is sent, which reports an
    // empty ConnectionFailure), then what next asks for. A client busy with another
    // request refuses the step; the job reports that refusal and the running request is
    // left alone.
    static TPostJob* Begin(THttpCli& client, std::optional<TStep> first, TNext next = {});

    // Ends the job at once: a running request is aborted (the server may have it already)
    // and no further step is sent. Finished has been emitted when this returns.
    void Abort();

Q_SIGNALS:
    void Finished(const TPostOutcome& outcome);

private:
    TPostJob(THttpCli& client, TNext next);
    ~TPostJob() override;
    void send(const TStep& step);
    void stepEnded(const THttpCliResult& result);
    void finish(const TPostOutcome& outcome);

    THttpCli* m_client;
    TNext m_next;
    QByteArray m_url;
    TNetworkOptions m_network;
    std::unique_ptr<TReplyKeeper> m_reply;  // the running step's reply body, within a bound
    bool m_sending = false;     // a request of this job runs on the client
    bool m_aborting = false;
    bool m_done = false;
    std::optional<TPostOutcome> m_refused;  // reported from the loop
};

// The outcome of one request to url over network, as the status lines report it.
TPostOutcome PostOutcomeOf(const THttpCliResult& result, const QByteArray& url, const TNetworkOptions& network);

// Completes an outcome from the reply's body: an accepted reply counts only when it is
// a status document (its root element "status") or a JSON Status (an "id" string and an
// "account" object); a refusal takes the service's own error
// text, from an XML <hash><error> or <errors><error>, or a JSON "error" or "errors"
// message. complete is false when the body went beyond what is kept.
void ReadReplyBody(TPostOutcome& outcome, const QByteArray& body, const QByteArray& contentType, bool complete);
