// Makes one share link through the Share window, as a person would, for the end-to-end test of
// the link page (share-window.test.mjs). Reads one JSON value on standard input:
//
//   {"workerURL": "http://127.0.0.1:8787/", "mount": "/tmp/drive", "picked": ["a.jpg", "b.txt"],
//    "password": "pw", "downloads": 5, "objects": "/tmp/objects", "output": "/tmp/made.json"}
//
// over Debian's rclone and a loopback S3 server started for the run, with the link page recorded
// as deployed at `workerURL`: the window opens on its form, the open panel picks the named
// entries of `mount`, the form asks for the password and the custom download limit, "Create
// Link" makes the link and "Copy Link" copies it. Writes {"link": <clipboard text>, "id": ...,
// "maxDownloads": ...} to
// `output` and the link's objects, copied out of the bucket, to "<objects>/<id>/".
#include "CorvaneDrive/Shares/ShareDone.h"
#include "CorvaneDrive/Shares/ShareFilesPanel.h"
#include "CorvaneDrive/Shares/ShareForm.h"
#include "CorvaneDrive/Shares/ShareWindow.h"
#include "DriveCore/platform/ProcessRunner.h"
#include "DriveCore/shares/ShareFormat.h"
#include "DriveCore/shares/ShareWorkerConfig.h"
#include "DriveCore/shares/ShareWorkerDeploy.h"
#include "ShareWindowRig.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <stdexcept>

using namespace DriveCore;
using namespace std::chrono_literals;
using TestSupport::await;
using TestSupport::spinUntil;

namespace {

void require(bool holds, const char *what)
{
    if (!holds)
        throw std::runtime_error(what);
}

QJsonObject readInput()
{
    QFile input;
    require(input.open(stdin, QIODevice::ReadOnly), "no standard input");
    const QJsonDocument document = QJsonDocument::fromJson(input.readAll());
    require(document.isObject(), "standard input is not a JSON object");
    return document.object();
}

void run(const QJsonObject &script)
{
    TestSupport::ShareEngine engine;
    require(engine.start(), "the engine or the S3 server did not start");
    TestSupport::ShareWindowRig rig(engine, TestSupport::ShareEngine::freshMetaFs());
    rig.mountPath = script.value(u"mount").toString();
    rig.now = QDateTime::currentDateTimeUtc();

    // The link page as a set-up would have recorded it, at the address of the Workers runtime.
    const QList<ShareWorkerDeploy::Module> modules = SharesModel::modulesIn(QStringLiteral(SHARE_WORKER_FOLDER))();
    await(ShareWorkerConfig{QUrl(script.value(u"workerURL").toString()), ShareWorkerDeploy::version(modules),
                            TestSupport::ShareWindowRig::appBuild, rig.now}
              .save(engine.client(), rig.metaFs));

    const auto shares = rig.makeModel();
    ShareWindow window(*shares, {});
    window.show();
    require(spinUntil([&] { return window.face() == ShareWindowPresenter::Face::form; }, 60s), "no form");

    bool shareOpened = false;
    auto picking = ShareFilesPanel::pickAndShare(shares.get(), rig.mountPath, nullptr, [&] { shareOpened = true; });
    ShareFilesPanel *panel = TestSupport::topLevel<ShareFilesPanel>();
    require(panel, "no open panel");
    QStringList picked;
    for (const QJsonValue &name : script.value(u"picked").toArray())
        picked.append(name.toString());
    TestSupport::chooseInPanel(*panel, picked);
    require(spinUntil([&] { return shareOpened; }, 30s), "the panel's choice was not taken");
    window.activateWindow();
    QApplication::setActiveWindow(&window);

    auto *form = qobject_cast<ShareForm *>(window.faceView());
    require(form, "the form went away");
    form->limitPicker()->setFocus();
    QTest::keyClick(form->limitPicker(), Qt::Key_End); // "Other…"
    form->customLimitBox()->setFocus();
    form->customLimitBox()->selectAll();
    QTest::keyClicks(form->customLimitBox(), QString::number(script.value(u"downloads").toInt()));
    form->passwordToggle()->setFocus();
    QTest::keyClick(form->passwordToggle(), Qt::Key_Space);
    QTest::keyClicks(form->passwordField(), script.value(u"password").toString());
    require(form->createButton()->isEnabled(), "Create Link is disabled");
    QTest::keyClick(form->passwordField(), Qt::Key_Return);
    require(spinUntil([&] { return window.face() == ShareWindowPresenter::Face::done; }, 120s),
            qPrintable(QStringLiteral("no link: ") + shares->createState().text));

    auto *done = qobject_cast<ShareDone *>(window.faceView());
    require(done, "no result");
    QGuiApplication::clipboard()->clear();
    QTest::mouseClick(done->copyButton(), Qt::LeftButton);
    const QString link = QGuiApplication::clipboard()->text();
    const QString id = shares->createState().record->id;
    const qint64 limit = shares->createState().record->maxDownloads.value_or(-1);

    const RcloneResult copied = await(
        ProcessRunner::run(TestSupport::ShareBucket::rclone(),
                           {QStringLiteral("copy"),
                            QStringLiteral("drive:%1/%2/%3")
                                .arg(engine.bucket().secrets().bucket, QLatin1String(ShareFormat::sharesFolder), id),
                            script.value(u"objects").toString() + u'/' + id},
                           engine.bucket().environment()));
    require(copied.status == 0, "the link's objects could not be copied out of the bucket");

    QFile output(script.value(u"output").toString());
    require(output.open(QIODevice::WriteOnly), "cannot write the output");
    output.write(QJsonDocument(QJsonObject{{QStringLiteral("link"), link},
                                           {QStringLiteral("id"), id},
                                           {QStringLiteral("maxDownloads"), limit}})
                     .toJson());
}

} // namespace

int main(int argc, char **argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    try {
        run(readInput());
        return ::testing::UnitTest::GetInstance()->Failed() ? 1 : 0;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "share-window-driver: %s\n", error.what());
        return 1;
    }
}
