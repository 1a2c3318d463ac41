#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkRequest>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;

// One asynchronous HTTP request at a time, reported by events: the request
// component the start window's update check uses. Failures of the network and
// the file system never throw; reads that fail give 0, the empty text or an
// empty byte array.
//
// Order of events for one request: OnReadyStateChange at least once (the last
// time with ReadyState 4), then exactly one of OnDateArrived (status 200) or
// OnDateErr (anything else). Abort_ or a new Open_ ends a request without events.
//
// Events are raised from calls of their own on the event loop, never from
// inside the network's signals, so a handler may abort, reopen or delete the
// component.
class uXMLHTTP : public QObject {
    Q_OBJECT

public:
    // Uses a network manager of its own.
    explicit uXMLHTTP(QObject* parent = nullptr);
    // Uses manager (for its cookies and proxy); the manager must outlive this object.
    explicit uXMLHTTP(QNetworkAccessManager* manager, QObject* parent = nullptr);
    ~uXMLHTTP() override;

    // Prepares a request: the method upper-cased, the address as given. saveFile,
    // when not empty, receives the body of a successful response. Ends a running
    // request without events. False for a method that is not an HTTP token or an
    // address that is not absolute http or https; such a call changes nothing,
    // a running request goes on.
    bool Open_(const QString& method, const QString& url, const QString& saveFile = {});
    // Adds a request header to the prepared request; ignored otherwise.
    void SetRequestHeader(const QString& name, const QString& value);
    // Sends the request prepared by the last Open_ with body (UTF-8); does nothing
    // before the first Open_, after a refused one, or a second time.
    void Send_(const QString& body = {});
    // Stops the running request and forgets its response: no event follows,
    // DownOK keeps its value.
    void Abort_();

    // False at every Open_; true once the request finished, whatever its status.
    bool DownOK() const { return downOK_; }
    // 0 unsent, 1 opened, 2 headers received, 3 receiving the body, 4 finished.
    int ReadyState() const { return readyState_; }
    // HTTP status of the response; 0 while there is none and after a transport
    // failure (the connection broke, the certificate was refused).
    int Status() const { return status_; }
    QString StatusText() const { return statusText_; }
    QString GetResponseHeader(const QString& name) const;
    // Every response header as "Name: value" lines ended by CR LF.
    QString GetAllResponseHeaders() const;
    QByteArray ResponseBody() const { return body_; }
    // The body decoded by its byte-order mark or its Content-Type charset; UTF-8 otherwise.
    QString ResponseText() const;

    // Why the last successful body could not be stored in the save file; empty
    // when it was stored or nothing was to be stored. OnDateArrived comes either way.
    QString SaveError() const { return saveError_; }

    // A response body larger than this many bytes is not read to its end: the
    // request finishes with its status as usual but with an empty body, and
    // BodyTooLarge() says so. 0, the default, sets no limit.
    void setMaximumBodySize(qint64 bytes) { maxBody_ = bytes; }
    // The last response's body went over the limit and was dropped.
    bool BodyTooLarge() const { return overLimit_; }

signals:
    // The request finished with status 200; the body is stored when a save file was given.
    void OnDateArrived();
    // The request's state may have changed; raised at least once per request.
    void OnReadyStateChange();
    // The request finished without status 200: the status description, empty for
    // a status the table does not list and for a failure without a status.
    void OnDateErr(const QString& description);

private:
    void resetResponse();
    void dropReply();
    void onMetaData();
    void onReadyRead();
    void onFinished();
    bool readHeaders(QNetworkReply* reply);
    void storeBody();
    // Raises the events for the request's state from a call of its own, once
    // for any number of network signals before it runs.
    void scheduleTick();
    void tick(quint64 generation);

    QNetworkAccessManager* manager_;
    bool ownsManager_ = false;
    QPointer<QNetworkReply> reply_;
    QNetworkRequest request_;
    QByteArray method_;
    QString saveFile_;
    bool prepared_ = false; // an opened request waits for Send_
    bool downOK_ = false;
    bool overLimit_ = false;
    bool finished_ = false; // the reply has ended; the next tick raises the outcome
    bool transportFailure_ = false;
    bool tickPending_ = false;
    int readyState_ = 0;
    int status_ = 0;
    QString statusText_;
    QList<QPair<QByteArray, QByteArray>> headers_;
    QByteArray body_;
    QString saveError_;
    qint64 maxBody_ = 0;
    quint64 generation_ = 0; // counts requests, so an event handler may start a new one
};
