#include "http/xml_http.h"

#include "http/status_texts.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSaveFile>
#include <QStringDecoder>
#include <QUrl>

#include <cstring>

namespace {

// Most redirects one request follows.
constexpr int MaxRedirects = 20;

// RFC 9110 token characters.
bool IsToken(const QByteArray& text) {
    if (text.isEmpty())
        return false;
    for (char c : text) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
        if (!ok)
            return false;
    }
    return true;
}

QByteArray CharsetOf(const QByteArray& contentType) {
    for (const QByteArray& part : contentType.split(';')) {
        const QByteArray p = part.trimmed();
        if (p.toLower().startsWith("charset=")) {
            QByteArray name = p.mid(8).trimmed();
            if (name.size() >= 2 && name.startsWith('"') && name.endsWith('"'))
                name = name.mid(1, name.size() - 2);
            return name;
        }
    }
    return {};
}

} // namespace

uXMLHTTP::uXMLHTTP(QObject* parent)
    : uXMLHTTP(nullptr, parent) {}

uXMLHTTP::uXMLHTTP(QNetworkAccessManager* manager, QObject* parent)
    : QObject(parent)
    , manager_(manager)
    , ownsManager_(manager == nullptr) {
    if (ownsManager_)
        manager_ = new QNetworkAccessManager(this);
}

uXMLHTTP::~uXMLHTTP() {
    dropReply();
    if (!ownsManager_)
        return;
    // The owner may delete this component from anywhere, even from a slot of
    // some network signal: the manager and its replies go once the event loop
    // is back, and with the application object at the latest.
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        delete manager_;
        return;
    }
    manager_->setParent(app->thread() == manager_->thread() ? app : nullptr);
    manager_->deleteLater();
}

void uXMLHTTP::dropReply() {
    ++generation_;
    tickPending_ = false;
    finished_ = false;
    if (!reply_)
        return;
    QNetworkReply* reply = reply_;
    reply_ = nullptr;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
}

void uXMLHTTP::resetResponse() {
    status_ = 0;
    statusText_.clear();
    headers_.clear();
    body_.clear();
    saveError_.clear();
    overLimit_ = false;
    transportFailure_ = false;
}

bool uXMLHTTP::Open_(const QString& method, const QString& url, const QString& saveFile) {
    // A refused call leaves everything as it was, a running request included.
    const QByteArray verb = method.toUpper().toLatin1();
    const QUrl address(url);
    const QString scheme = address.scheme().toLower();
    if (!IsToken(verb) || method.toUpper() != QString::fromLatin1(verb) || !address.isValid() ||
        address.host().isEmpty() || (scheme != u"http" && scheme != u"https"))
        return false;
    downOK_ = false;
    dropReply();
    resetResponse();
    method_ = verb;
    request_ = QNetworkRequest(address);
    request_.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                          QNetworkRequest::NoLessSafeRedirectPolicy);
    request_.setMaximumRedirectsAllowed(MaxRedirects);
    request_.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                          QNetworkRequest::AlwaysNetwork);
    saveFile_ = saveFile;
    prepared_ = true;
    readyState_ = 1;
    return true;
}

void uXMLHTTP::SetRequestHeader(const QString& name, const QString& value) {
    const QByteArray header = name.toLatin1();
    if (!prepared_ || !IsToken(header) || value.contains(u'\r') || value.contains(u'\n'))
        return;
    request_.setRawHeader(header, value.toUtf8());
}

void uXMLHTTP::Send_(const QString& body) {
    if (!prepared_)
        return;
    prepared_ = false;
    const QByteArray data = body.toUtf8();
    const bool carriesBody = !data.isEmpty() || method_ == "POST" || method_ == "PUT";
    if (carriesBody && !request_.hasRawHeader("Content-Type"))
        request_.setRawHeader("Content-Type", "text/plain;charset=UTF-8");
    QNetworkReply* reply = nullptr;
    if (method_ == "GET" && data.isEmpty())
        reply = manager_->get(request_);
    else if (method_ == "HEAD" && data.isEmpty())
        reply = manager_->head(request_);
    else if (method_ == "DELETE" && data.isEmpty())
        reply = manager_->deleteResource(request_);
    else
        reply = manager_->sendCustomRequest(request_, method_, data);
    reply_ = reply;
    connect(reply, &QNetworkReply::metaDataChanged, this, &uXMLHTTP::onMetaData);
    connect(reply, &QIODevice::readyRead, this, &uXMLHTTP::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &uXMLHTTP::onFinished);
    // The owner hears of the opened request first, as from a first poll.
    scheduleTick();
}

void uXMLHTTP::Abort_() {
    dropReply();
    resetResponse();
    prepared_ = false;
    readyState_ = 0;
}

bool uXMLHTTP::readHeaders(QNetworkReply* reply) {
    const QVariant code = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!code.isValid())
        return false;
    status_ = code.toInt();
    statusText_ = QString::fromUtf8(
        reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray());
    headers_ = reply->rawHeaderPairs();
    return true;
}

void uXMLHTTP::scheduleTick() {
    if (tickPending_)
        return;
    tickPending_ = true;
    QMetaObject::invokeMethod(
        this, [this, generation = generation_] { tick(generation); }, Qt::QueuedConnection);
}

void uXMLHTTP::tick(quint64 generation) {
    if (generation != generation_)
        return; // a request ended meanwhile; its successor has ticks of its own
    tickPending_ = false;
    QPointer<uXMLHTTP> self = this;
    emit OnReadyStateChange();
    if (!self || generation != generation_ || !finished_)
        return; // the handler ended, replaced or deleted this request, or it goes on
    finished_ = false;
    downOK_ = true;
    if (status_ == 200) {
        storeBody();
        emit OnDateArrived();
    } else {
        emit OnDateErr(transportFailure_ ? QString() : StatusDescription(status_));
    }
}

void uXMLHTTP::onMetaData() {
    if (!reply_ || !readHeaders(reply_))
        return;
    if (readyState_ < 2) {
        readyState_ = 2;
        scheduleTick();
    }
}

void uXMLHTTP::onReadyRead() {
    if (!reply_)
        return;
    const QByteArray data = reply_->readAll();
    if (overLimit_)
        return; // the abort is on its way
    body_ += data;
    if (maxBody_ > 0 && body_.size() > maxBody_) {
        overLimit_ = true;
        body_ = QByteArray();
        // Aborting raises finished at once: not from inside the reply's own signal.
        QMetaObject::invokeMethod(
            this,
            [this, generation = generation_] {
                if (generation == generation_ && reply_)
                    reply_->abort();
            },
            Qt::QueuedConnection);
        return;
    }
    readyState_ = 3;
    scheduleTick();
}

void uXMLHTTP::onFinished() {
    if (!reply_)
        return;
    QNetworkReply* reply = reply_;
    reply_ = nullptr;
    reply->disconnect(this);
    reply->deleteLater();

    if (!overLimit_) {
        if (!readHeaders(reply))
            status_ = 0;
        // The last bytes may come without a readyRead of their own.
        body_ += reply->readAll();
        if (maxBody_ > 0 && body_.size() > maxBody_) {
            overLimit_ = true;
            body_ = QByteArray();
        }
    }
    // No status, or a status that came with a broken body, is a transport
    // failure: nothing of the response is usable. Our own abort over the size
    // limit is not one.
    const bool broken = !overLimit_ && status_ == 200 && reply->error() != QNetworkReply::NoError;
    if (status_ == 0 || broken) {
        transportFailure_ = true;
        status_ = 0;
        statusText_.clear();
        headers_.clear();
        body_.clear();
    }
    readyState_ = 4;
    finished_ = true;
    scheduleTick();
}

void uXMLHTTP::storeBody() {
    if (saveFile_.isEmpty())
        return;
    if (overLimit_) {
        saveError_ = QStringLiteral("响应正文超过大小上限，未保存");
        return;
    }
    if (body_.isEmpty())
        return;
    // The old file stays whole until the new one is complete.
    QSaveFile file(saveFile_);
    if (!file.open(QIODevice::WriteOnly)) {
        saveError_ = file.errorString();
        return;
    }
    if (file.write(body_) != body_.size() || !file.commit())
        saveError_ = file.errorString();
}

QString uXMLHTTP::GetResponseHeader(const QString& name) const {
    const QByteArray wanted = name.toLatin1().toLower();
    QByteArrayList values;
    for (const auto& header : headers_) {
        if (header.first.toLower() == wanted)
            values.append(header.second);
    }
    return QString::fromUtf8(values.join(", "));
}

QString uXMLHTTP::GetAllResponseHeaders() const {
    QByteArray all;
    for (const auto& header : headers_)
        all += header.first + ": " + header.second + "\r\n";
    return QString::fromUtf8(all);
}

QString uXMLHTTP::ResponseText() const {
    if (const auto bom = QStringConverter::encodingForData(body_)) {
        QStringDecoder decoder(*bom);
        return decoder.decode(body_);
    }
    const QByteArray charset =
        CharsetOf(GetResponseHeader(QStringLiteral("Content-Type")).toLatin1());
    if (!charset.isEmpty()) {
        QStringDecoder decoder(charset.constData());
        if (decoder.isValid())
            return decoder.decode(body_);
    }
    return QString::fromUtf8(body_);
}
