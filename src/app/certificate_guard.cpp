#include "app/certificate_guard.h"

#include "app/browser_page.h"
#include "tools/prompter.h"

#include <QSslCertificate>
#include <QStringList>
#include <QTimer>
#include <QWebEngineLoadingInfo>
#include <QWebEngineProfile>

#include <algorithm>
#include <utility>

namespace {

QString ProblemText(const QWebEngineCertificateError& error) {
    using E = QWebEngineCertificateError;
    switch (error.type()) {
    case E::SslPinnedKeyNotInCertificateChain:
        return QStringLiteral("证书与该网站固定的公钥不符");
    case E::CertificateCommonNameInvalid:
        return QStringLiteral("证书上的名称与网站地址不符");
    case E::CertificateDateInvalid:
        return QStringLiteral("证书已过期或尚未生效");
    case E::CertificateAuthorityInvalid:
        return QStringLiteral("证书不是由受信任的机构颁发的");
    case E::CertificateContainsErrors:
        return QStringLiteral("证书含有错误");
    case E::CertificateNoRevocationMechanism:
        return QStringLiteral("证书没有吊销检查机制");
    case E::CertificateUnableToCheckRevocation:
        return QStringLiteral("无法检查证书是否已被吊销");
    case E::CertificateRevoked:
        return QStringLiteral("证书已被吊销");
    case E::CertificateInvalid:
        return QStringLiteral("证书无效");
    case E::CertificateWeakSignatureAlgorithm:
        return QStringLiteral("证书使用了不安全的签名算法");
    case E::CertificateNonUniqueName:
        return QStringLiteral("证书上的名称不唯一");
    case E::CertificateWeakKey:
        return QStringLiteral("证书的密钥太弱");
    case E::CertificateNameConstraintViolation:
        return QStringLiteral("证书违反了名称约束");
    case E::CertificateValidityTooLong:
        return QStringLiteral("证书的有效期过长");
    case E::CertificateTransparencyRequired:
        return QStringLiteral("证书没有公开记录");
    case E::CertificateSymantecLegacy:
        return QStringLiteral("证书由已不受信任的旧机构颁发");
    case E::CertificateKnownInterceptionBlocked:
        return QStringLiteral("证书属于已知的流量拦截软件");
    case E::SslObsoleteVersion:
        return QStringLiteral("网站使用了过时的加密协议版本");
    }
    return QStringLiteral("证书有问题（%1）").arg(error.description());
}

QString Subject(const QSslCertificate& certificate) {
    QStringList parts;
    for (const auto field : {QSslCertificate::CommonName, QSslCertificate::Organization}) {
        for (const QString& value : certificate.subjectInfo(field)) {
            if (!value.isEmpty() && !parts.contains(value))
                parts.append(value);
        }
    }
    return parts.isEmpty() ? certificate.subjectDisplayName() : parts.join(QStringLiteral("，"));
}

QString DateText(const QDateTime& when) {
    return when.isValid() ? when.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"))
                          : QStringLiteral("未知");
}

} // namespace

CertificateFacts DescribeCertificateError(const QWebEngineCertificateError& error) {
    CertificateFacts facts;
    facts.host = error.url().host();
    facts.problem = ProblemText(error);
    facts.overridable = error.isOverridable();
    const QList<QSslCertificate> chain = error.certificateChain();
    if (!chain.isEmpty()) {
        facts.subject = Subject(chain.first());
        facts.validFrom = chain.first().effectiveDate();
        facts.validUntil = chain.first().expiryDate();
    }
    return facts;
}

QString CertificateQuestion(const CertificateFacts& facts) {
    // The engine keeps a "yes" for the whole profile: say so before it is given.
    return QStringLiteral("网站“%1”的安全证书不可信：%2。\n\n证书颁发给：%3\n有效期：%4 至 %5\n\n"
                          "如果继续，在本程序退出之前，所有浏览器窗格（包括不弹出提示的窗格）"
                          "都将信任此网站的这一证书，不再询问。\n\n"
                          "是否仍然继续打开此网页？")
        .arg(facts.host, facts.problem,
             facts.subject.isEmpty() ? QStringLiteral("未知") : facts.subject,
             DateText(facts.validFrom), DateText(facts.validUntil));
}

QString CertificateRefusal(const CertificateFacts& facts, bool silent) {
    const QString refused =
        QStringLiteral("已拒绝打开“%1”的网页：%2").arg(facts.host, facts.problem);
    if (!facts.overridable)
        return refused + QStringLiteral("，此网站不允许例外");
    if (silent)
        return refused + QStringLiteral("（未询问：此浏览器禁止弹出提示）");
    return refused;
}

QString AcceptedCertificateNote(const QString& host) {
    return QStringLiteral("注意：本次运行中已接受“%1”的不可信证书，此网站的网页在各浏览器窗格中"
                          "不再询问即可打开")
        .arg(host);
}

CertificateErrorKey KeyOf(const QWebEngineCertificateError& error) {
    CertificateErrorKey key;
    key.host = error.url().host();
    key.port = error.url().port(443);
    key.type = int(error.type());
    const QList<QSslCertificate> chain = error.certificateChain();
    if (!chain.isEmpty())
        key.sha256 = chain.first().digest(QCryptographicHash::Sha256);
    return key;
}

AcceptedCertificates::AcceptedCertificates(QObject* parent)
    : QObject(parent) {}

AcceptedCertificates* AcceptedCertificates::of(QWebEngineProfile* profile) {
    if (auto* record =
            profile->findChild<AcceptedCertificates*>(QString(), Qt::FindDirectChildrenOnly))
        return record;
    return new AcceptedCertificates(profile);
}

void AcceptedCertificates::add(const CertificateErrorKey& key) {
    if (!entries_.contains(key))
        entries_.append(key);
}

bool AcceptedCertificates::hasHost(const QString& host) const {
    return std::any_of(entries_.begin(), entries_.end(),
                       [&host](const CertificateErrorKey& key) { return key.host == host; });
}

CertificateGuard::CertificateGuard(BrowserPage* page, Prompter* prompter)
    : QObject(page)
    , page_(page)
    , prompter_(prompter) {
    connect(page, &QWebEnginePage::certificateError, this, &CertificateGuard::onError);
    connect(page, &QWebEnginePage::loadStarted, this, [this] { refusal_.clear(); });
    connect(page, &QWebEnginePage::loadFinished, this, [this] {
        if (!refusal_.isEmpty())
            emit StatusText(std::exchange(refusal_, QString()));
    });
    connect(page, &QWebEnginePage::loadingChanged, this, &CertificateGuard::onLoadEnded);
}

void CertificateGuard::onLoadEnded(const QWebEngineLoadingInfo& info) {
    // A pane that never asks would otherwise show a page of an untrusted site
    // without a word: the engine let it through on an earlier "yes" elsewhere.
    if (!page_ || info.status() != QWebEngineLoadingInfo::LoadSucceededStatus)
        return;
    const bool silent = page_->Silent() || !prompter_;
    const QUrl url = info.url();
    if (silent && url.scheme() == u"https" &&
        AcceptedCertificates::of(page_->profile())->hasHost(url.host()))
        emit StatusText(AcceptedCertificateNote(url.host()));
}

void CertificateGuard::refuse(const QString& text) {
    refusal_ = text;
    emit StatusText(text);
}

void CertificateGuard::onError(const QWebEngineCertificateError& given) {
    QWebEngineCertificateError error = given;
    const CertificateFacts facts = DescribeCertificateError(error);
    const bool silent = !page_ || page_->Silent() || !prompter_;
    if (!facts.overridable || silent) {
        error.rejectCertificate();
        refuse(CertificateRefusal(facts, silent));
        return;
    }
    // The question is a modal dialog: ask once the engine's call has returned.
    error.defer();
    waiting_.append(error);
    QTimer::singleShot(0, this, &CertificateGuard::askNext);
}

void CertificateGuard::askNext() {
    if (asking_ || waiting_.isEmpty())
        return;
    asking_ = true;
    const CertificateFacts facts = DescribeCertificateError(waiting_.first());
    const CertificateErrorKey key = KeyOf(waiting_.first());
    QPointer<CertificateGuard> self = this;
    const bool proceed =
        prompter_->askYesNo(CertificateQuestion(facts), QStringLiteral("安全警告"));
    if (!self || !page_)
        return;
    asking_ = false;
    // One answer serves the page parts that waited meanwhile for the very same
    // certificate and problem at the same place, and nothing else.
    for (qsizetype i = waiting_.size() - 1; i >= 0; --i) {
        QWebEngineCertificateError error = waiting_.at(i);
        if (!(KeyOf(error) == key))
            continue;
        waiting_.removeAt(i);
        if (proceed)
            error.acceptCertificate();
        else
            error.rejectCertificate();
    }
    if (proceed)
        AcceptedCertificates::of(page_->profile())->add(key);
    else
        refuse(CertificateRefusal(facts, false));
    if (!waiting_.isEmpty())
        QTimer::singleShot(0, this, &CertificateGuard::askNext);
}
