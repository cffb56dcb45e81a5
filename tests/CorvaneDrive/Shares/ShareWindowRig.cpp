#include "ShareWindowRig.h"

#include "CorvaneDrive/Shares/ShareFilesPanel.h"
#include "DriveCore/shares/ShareFormat.h"
#include "DriveCore/support/AppModelError.h"
#include "support/TestSupport.h"

#include <QAbstractItemView>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QListView>
#include <QTest>

#include <gtest/gtest.h>

using namespace DriveCore;
using namespace std::chrono_literals;

namespace TestSupport {

CloudflareStandIn::CloudflareStandIn()
    : m_server([this](const LoopbackHTTPServer::Request &request) -> std::optional<LoopbackHTTPServer::Answer> {
          if (request.path.startsWith("/api/s/"))
              return LoopbackHTTPServer::Answer{200, statusBody};
          if (request.path.endsWith("/workers/subdomain"))
              return LoopbackHTTPServer::Answer{200, R"({"success":true,"errors":[],"result":{"subdomain":"alice"}})"};
          return LoopbackHTTPServer::Answer{200, R"({"success":true,"errors":[]})"};
      })
{
}

HTTPSend CloudflareStandIn::send()
{
    return [this](HTTPRequest request, CancelToken token) {
        QUrl url = request.request.url();
        if (url.host() == u"api.cloudflare.com" || url.host().endsWith(u".workers.dev")) {
            const QUrl here = m_server.url();
            url.setScheme(here.scheme());
            url.setHost(here.host());
            url.setPort(here.port());
            request.request.setUrl(url);
        }
        return liveHTTPSend(std::move(request), std::move(token));
    };
}

qsizetype CloudflareStandIn::apiRequests() const
{
    return std::count_if(requests().begin(), requests().end(), [](const LoopbackHTTPServer::Request &request) {
        return request.path.startsWith("/client/v4/");
    });
}

QCoro::Task<> HeldStorage::pause(const QString &name, CancelToken token) const
{
    if (name != holdName)
        co_return;
    waiting = true;
    while (held)
        co_await DriveCore::sleep(10ms, token);
    waiting = false;
}

QCoro::Task<> HeldStorage::upload(QString id, QString name, qint64 size, Produce produce, CancelToken token) const
{
    co_await pause(name, token);
    co_await m_inner->upload(std::move(id), std::move(name), size, std::move(produce), std::move(token));
}

QCoro::Task<> HeldStorage::put(QString id, QString name, QByteArray data, CancelToken token) const
{
    co_await pause(name, token);
    co_await m_inner->put(std::move(id), std::move(name), std::move(data), std::move(token));
}

QCoro::Task<> HeldStorage::deleteObject(QString id, QString name, CancelToken token) const
{
    return m_inner->deleteObject(std::move(id), std::move(name), std::move(token));
}

QCoro::Task<> HeldStorage::deleteAll(QString id, CancelToken token) const
{
    return m_inner->deleteAll(std::move(id), std::move(token));
}

ShareWindowRig::ShareWindowRig(ShareEngine &engine, QString metaFs)
    : engine(engine), metaFs(std::move(metaFs)), storage(std::make_shared<HeldStorage>(engine.bucket().storage()))
{
}

std::unique_ptr<SharesModel> ShareWindowRig::makeModel()
{
    const auto context = [this]() -> QCoro::Task<ShareContext> {
        while (holdContext)
            co_await DriveCore::sleep(10ms);
        if (notConnected)
            throw AppModelError(notConnectedText);
        co_return ShareContext{this->engine.client(),
                               storage,
                               QStringLiteral("Kitchen Mac"),
                               mountPath,
                               endpoint,
                               QStringLiteral("photos"),
                               blockedReason,
                               keptKey};
    };
    const auto keep = [this](QString token) -> QCoro::Task<> {
        keptTokens.append(token);
        co_return;
    };
    return std::make_unique<SharesModel>(SharesModel::Deps{
        .context = context,
        .blocked = [this] { return blockedReason; },
        .appBuild = appBuild,
        .send = cloudflare.send(),
        .modules = SharesModel::modulesIn(QStringLiteral(SHARE_WORKER_FOLDER)),
        .passwordRounds = 1000,
        .now = [this] { return now; },
        .metaFs = metaFs,
        .keepKey = keep,
    });
}

QString ShareWindowRig::file(const QString &relative, const QByteArray &data)
{
    const QString path = mountPath + u'/' + relative;
    QDir().mkpath(QFileInfo(path).path());
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QPushButton *button(QWidget *in, const QString &text)
{
    for (QPushButton *candidate : in->findChildren<QPushButton *>()) {
        if (candidate->text() == text && candidate->isVisible())
            return candidate;
    }
    return nullptr;
}

QWidget *visibleTopLevel(const QMetaObject &type, std::chrono::milliseconds limit)
{
    QWidget *found = nullptr;
    spinUntil(
        [&] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                if (widget->isVisible() && type.cast(widget)) {
                    found = widget;
                    return true;
                }
            }
            return false;
        },
        limit);
    return found;
}

void chooseInPanel(ShareFilesPanel &panel, const QStringList &names)
{
    auto *list = panel.findChild<QListView *>(QStringLiteral("listView"));
    ASSERT_TRUE(list);
    auto *files = qobject_cast<QFileSystemModel *>(list->model());
    ASSERT_TRUE(files);
    // The dialog lists its folder in the background.
    QList<QModelIndex> entries;
    ASSERT_TRUE(spinUntil(
        [&] {
            entries.clear();
            for (const QString &name : names) {
                const QModelIndex index = files->index(panel.directory().filePath(name));
                if (!index.isValid() || list->visualRect(index).isEmpty())
                    return false;
                entries.append(index);
            }
            return true;
        },
        30s))
        << "the panel does not list " << names.join(u", ").toStdString();
    for (qsizetype i = 0; i < entries.size(); ++i)
        QTest::mouseClick(list->viewport(), Qt::LeftButton, i == 0 ? Qt::NoModifier : Qt::ControlModifier,
                          list->visualRect(entries[i]).center());
    QPushButton *share = panel.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Open);
    ASSERT_TRUE(share);
    ASSERT_EQ(share->text(), ShareFilesPanel::prompt);
    ASSERT_TRUE(share->isEnabled());
    QTest::mouseClick(share, Qt::LeftButton);
}

} // namespace TestSupport
