#include "DriveCore/shares/ShareWorkerDeploy.h"

#include "DriveCore/engine/RCClient.h"
#include "DriveCore/keys/CloudflareKey.h"
#include "DriveCore/support/AppModelError.h"
#include "DriveCore/support/Hex.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>
#include <QUuid>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <system_error>

namespace DriveCore::ShareWorkerDeploy {

namespace {

const char *caseName(Failure::Case value)
{
    return value == Failure::noAccountID ? "ShareWorkerDeploy::Failure::noAccountID"
                                         : "ShareWorkerDeploy::Failure::noWorkersSubdomain";
}

HTTPRequest apiRequest(const QUrl &api, const QString &accountID, const QString &tail, const QString &token,
                       QByteArray method, QByteArray body = {}, QByteArray contentType = {})
{
    QNetworkRequest request(api.resolved(QUrl(QStringLiteral("accounts/") + accountID + tail)));
    request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    if (!contentType.isEmpty())
        request.setRawHeader("Content-Type", contentType);
    request.setTransferTimeout(30'000);
    return {request, std::move(method), std::move(body)};
}

QString scriptPath(const QString &bucket)
{
    return QStringLiteral("/workers/scripts/") + scriptName(bucket);
}

// Cloudflare's answer envelope, as far as it is read. A body that is not such JSON, or holds a
// value of another kind, is no answer at all.
struct Answer {
    struct Error {
        std::optional<qint64> code;
        std::optional<QString> message;

        static Error decode(const JsonReader &reader)
        {
            return {reader.optional<qint64>(u"code"), reader.optional<QString>(u"message")};
        }
    };

    std::optional<bool> success;
    QList<Error> errors;

    static std::optional<Answer> read(const QByteArray &body)
    {
        try {
            const JsonReader reader = JsonReader::parse(body);
            return Answer{reader.optional<bool>(u"success"), reader.listOrEmpty<Error>(u"errors")};
        } catch (const JsonDecodingError &) {
            return std::nullopt;
        }
    }

    bool hasCode(std::initializer_list<qint64> codes) const
    {
        for (const Error &error : errors) {
            if (error.code && std::find(codes.begin(), codes.end(), *error.code) != codes.end())
                return true;
        }
        return false;
    }
};

struct SubdomainAnswer {
    struct Result {
        std::optional<QString> subdomain;

        static Result decode(const JsonReader &reader) { return {reader.optional<QString>(u"subdomain")}; }
    };

    bool success = false;
    std::optional<Result> result;
};

bool isSubdomainLabel(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c.unicode() > 0x7f || !(c.isLetterOrNumber() || c == u'-'))
            return false;
    }
    return true;
}

[[noreturn]] void refuse(const QString &text)
{
    throw AppModelError(text);
}

QCoro::Task<> sendChecked(const HTTPSend &send, HTTPRequest request, const CancelToken &cancel)
{
    const HTTPResponse response = co_await send(std::move(request), cancel);
    check(response.body, response.status);
}

} // namespace

Failure::Failure(Case value) : std::runtime_error(caseName(value)), value(value) {}

QString accountID(const QString &endpoint)
{
    std::optional<QString> account = CloudflareKey::accountID(endpoint);
    if (!account)
        throw Failure(Failure::noAccountID);
    return *std::move(account);
}

QString scriptName(const QString &bucket)
{
    static const QString prefix = QStringLiteral("ovra-share-");
    QString stem = bucket.toLower();
    for (QChar &c : stem) {
        const char16_t u = c.unicode();
        if (!((u >= 'a' && u <= 'z') || (u >= '0' && u <= '9')))
            c = u'-';
    }
    while (stem.startsWith(u'-'))
        stem.remove(0, 1);
    while (stem.endsWith(u'-'))
        stem.chop(1);
    if (!stem.isEmpty() && prefix.size() + stem.size() <= 54)
        return prefix + stem;

    // Too long for a script name, or nothing left: a cut stem told apart by the full name's hash.
    const QString digest = Hex::encode(QCryptographicHash::hash(bucket.toUtf8(), QCryptographicHash::Sha256)).left(12);
    QString name = prefix + stem.left(30) + u'-' + digest;
    name.replace(QStringLiteral("--"), QStringLiteral("-"));
    return name;
}

HTTPRequest accountSubdomainRequest(const QString &accountID, const QString &token, const QUrl &api)
{
    return apiRequest(api, accountID, QStringLiteral("/workers/subdomain"), token, "GET");
}

HTTPRequest uploadRequest(const QString &accountID, const QString &token, const QString &bucket,
                          const QList<Module> &modules, const QString &boundary, const QUrl &api)
{
    // QJsonObject keeps its keys sorted, at every level.
    const QJsonObject binding{
        {QStringLiteral("bucket_name"), bucket},
        {QStringLiteral("name"), QStringLiteral("BUCKET")},
        {QStringLiteral("type"), QStringLiteral("r2_bucket")},
    };
    const QJsonObject metadata{
        {QStringLiteral("bindings"), QJsonArray{binding}},
        {QStringLiteral("compatibility_date"), QLatin1String(compatibilityDate)},
        {QStringLiteral("main_module"), QLatin1String(moduleNames.front())},
    };

    const QByteArray delimiter = "--" + boundary.toUtf8() + "\r\n";
    QByteArray body = delimiter;
    body += "Content-Disposition: form-data; name=\"metadata\"\r\n"
            "Content-Type: application/json\r\n\r\n";
    body += QJsonDocument(metadata).toJson(QJsonDocument::Compact) + "\r\n";
    for (const Module &module : modules) {
        const QByteArray name = module.name.toUtf8();
        body += delimiter;
        body += "Content-Disposition: form-data; name=\"" + name + "\"; filename=\"" + name + "\"\r\n";
        body += "Content-Type: application/javascript+module\r\n\r\n";
        body += module.source.toUtf8() + "\r\n";
    }
    body += "--" + boundary.toUtf8() + "--\r\n";
    return apiRequest(api, accountID, scriptPath(bucket), token, "PUT", body,
                      "multipart/form-data; boundary=" + boundary.toUtf8());
}

HTTPRequest scheduleRequest(const QString &accountID, const QString &token, const QString &bucket, const QUrl &api)
{
    const QByteArray body = QByteArrayLiteral(R"([{"cron":")") + cron + R"("}])";
    return apiRequest(api, accountID, scriptPath(bucket) + QStringLiteral("/schedules"), token, "PUT", body,
                      "application/json");
}

HTTPRequest enableSubdomainRequest(const QString &accountID, const QString &token, const QString &bucket,
                                   const QUrl &api)
{
    return apiRequest(api, accountID, scriptPath(bucket) + QStringLiteral("/subdomain"), token, "POST",
                      R"({"enabled":true})", "application/json");
}

QUrl workerURL(const QByteArray &subdomainResponse, const QString &bucket)
{
    const JsonReader reader = JsonReader::parse(subdomainResponse, u"The account's workers.dev answer");
    const SubdomainAnswer answer{reader.value<bool>(u"success"), reader.optional<SubdomainAnswer::Result>(u"result")};

    const QString subdomain = answer.result ? answer.result->subdomain.value_or(QString()) : QString();
    if (!answer.success || !isSubdomainLabel(subdomain))
        throw Failure(Failure::noWorkersSubdomain);
    const QUrl url(
        QStringLiteral("https://%1.%2.%3").arg(scriptName(bucket), subdomain.toLower(), QLatin1String(workersDomain)),
        QUrl::StrictMode);
    if (!url.isValid())
        throw Failure(Failure::noWorkersSubdomain);
    return url;
}

void check(const QByteArray &body, int status)
{
    const std::optional<Answer> answer = Answer::read(body);
    const bool refusedInBody = answer && answer->success == false;
    if (status >= 200 && status <= 299 && !refusedInBody)
        return;
    if (status == 401 || status == 403 || (answer && answer->hasCode({9109, 10000})))
        refuse(QString::fromUtf8(permissionText));
    if (answer) {
        for (const Answer::Error &error : answer->errors) {
            if (error.message)
                refuse(QLatin1String(refusedPrefix) + *error.message);
        }
    }
    refuse(QLatin1String(refusedPrefix) + QStringLiteral("HTTP ") + QString::number(status));
}

QCoro::Task<QUrl> deploy(QString token, QString endpoint, QString bucket, QList<Module> modules, HTTPSend send,
                         QUrl api, CancelToken cancel)
{
    const QString account = accountID(endpoint);
    const QString trimmed = token.trimmed();

    const HTTPResponse subdomain = co_await send(accountSubdomainRequest(account, trimmed, api), cancel);
    // Read as Cloudflare's JSON: the digits 10007 elsewhere in the body (an id, a date) are no
    // sign of a missing workers.dev name.
    const std::optional<Answer> answer = Answer::read(subdomain.body);
    if (subdomain.status == 404 || (answer && answer->hasCode({10007})))
        refuse(QString::fromUtf8(noSubdomainText));
    check(subdomain.body, subdomain.status);
    QUrl url;
    try {
        url = workerURL(subdomain.body, bucket);
    } catch (const std::exception &) {
        refuse(QString::fromUtf8(noSubdomainText));
    }

    const QString boundary = QStringLiteral("ovra-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    co_await sendChecked(send, uploadRequest(account, trimmed, bucket, modules, boundary, api), cancel);
    co_await sendChecked(send, scheduleRequest(account, trimmed, bucket, api), cancel);
    co_await sendChecked(send, enableSubdomainRequest(account, trimmed, bucket, api), cancel);
    co_return url;
}

QList<Module> modules(const QString &folder)
{
    QList<Module> list;
    for (const char *name : moduleNames) {
        const QByteArray path = QFile::encodeName(folder + u'/' + QLatin1String(name));
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            throw std::system_error(errno, std::generic_category(), "cannot open " + path.toStdString());
        QByteArray bytes;
        char buffer[65536];
        ssize_t count;
        while ((count = ::read(fd, buffer, sizeof buffer)) != 0) {
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0) {
                const int error = errno;
                ::close(fd);
                throw std::system_error(error, std::generic_category(), "cannot read " + path.toStdString());
            }
            bytes.append(buffer, count);
        }
        ::close(fd);
        QStringDecoder decoder(QStringDecoder::Utf8);
        QString source = decoder.decode(bytes);
        if (decoder.hasError())
            throw std::system_error(EILSEQ, std::generic_category(), path.toStdString() + " is not UTF-8 text");
        list.append({QString::fromLatin1(name), std::move(source)});
    }
    return list;
}

QString version(const QList<Module> &modules)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const Module &module : modules) {
        hash.addData(module.name.toUtf8());
        hash.addData(QByteArrayView("\0", 1));
        hash.addData(module.source.toUtf8());
    }
    return Hex::encode(hash.result()).left(16);
}

} // namespace DriveCore::ShareWorkerDeploy
