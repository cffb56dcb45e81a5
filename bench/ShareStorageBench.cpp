// A 256 MiB share made through the share storage into a local folder remote, against the same
// bytes moved by the same engine program without encryption. Every pass writes 256 MiB:
//   copyto   "rclone copyto" of the plain file: the engine's own plain copy
//   rcat     the plain file streamed through the storage's upload (the producer thread, the pipe
//            and "rclone rcat"), without encryption
//   sealed   the same upload with the file read and sealed in 1 MiB chunks on the producer thread,
//            as the creator does it
//   share    ShareCreator::create of the file: the sealed upload, then the manifest and
//            meta.json (two more short runs of the engine)
// The differences are the cost of the pipe (rcat against copyto), of the encryption (sealed
// against rcat) and of the link's two small objects (share against sealed). The engine is found
// on PATH.
#include "DriveCore/platform/ProcessRunner.h"
#include "DriveCore/shares/RcloneShareStorage.h"
#include "DriveCore/shares/ShareCreator.h"
#include "DriveCore/shares/ShareFileReader.h"
#include "DriveCore/shares/ShareFiles.h"
#include "DriveCore/shares/ShareFormat.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <memory>

using namespace DriveCore;

namespace {

constexpr qint64 shareSize = qint64(256) << 20;

struct Setup {
    QTemporaryDir folder;
    QString rclone;
    QString source;
    ShareItem item; // the source as a share collects it
    Environment environment;
    std::shared_ptr<RcloneShareStorage> storage;
};
std::unique_ptr<Setup> setup;

QString remote()
{
    return setup->folder.filePath(QStringLiteral("remote"));
}

void clearRemote()
{
    QDir(remote()).removeRecursively();
    QDir().mkpath(remote());
}

void copyto(benchmark::State &state)
{
    int pass = 0;
    for (auto _ : state) {
        const RcloneResult result = QCoro::waitFor(ProcessRunner::run(
            setup->rclone,
            {QStringLiteral("copyto"), setup->source, remote() + QStringLiteral("/plain-%1").arg(pass++)},
            setup->environment));
        if (result.status != 0) {
            state.SkipWithError(qPrintable(result.stderrText()));
            return;
        }
        state.PauseTiming();
        clearRemote();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * shareSize);
}

// Times `pass` once an iteration, clearing the remote between passes.
void measure(benchmark::State &state, const std::function<QCoro::Task<>()> &pass)
{
    for (auto _ : state) {
        try {
            QCoro::waitFor(pass());
        } catch (const std::exception &error) {
            state.SkipWithError(error.what());
            return;
        }
        state.PauseTiming();
        clearRemote();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * shareSize);
}

void rcat(benchmark::State &state)
{
    const QString id = ShareFormat::newShareID();
    measure(state, [&] {
        return setup->storage->upload(id, QStringLiteral("f/0"), shareSize, [](const ShareStorage::Write &write) {
            ShareFileReader file(setup->source, setup->item.identity);
            for (QByteArray piece = file.read(ShareFormat::chunkSize); !piece.isEmpty();
                 piece = file.read(ShareFormat::chunkSize))
                write(piece);
        });
    });
}

void sealed(benchmark::State &state)
{
    const QString id = ShareFormat::newShareID();
    const QByteArray contentKey = ShareFormat::newSecret();
    const qint64 size = ShareFormat::encryptedSize(shareSize, ShareFormat::chunkSize);
    measure(state, [&] {
        return setup->storage->upload(id, QStringLiteral("f/0"), size, [&](const ShareStorage::Write &write) {
            ShareFileReader file(setup->source, setup->item.identity);
            ShareFormat::encryptStream(
                contentKey, 0, ShareFormat::chunkSize, [&](qint64 maxBytes) { return file.read(maxBytes); }, write);
        });
    });
}

void share(benchmark::State &state)
{
    const ShareCreator creator(setup->storage, ShareFormat::passwordRounds);
    const QList<ShareItem> items{setup->item};
    measure(state, [&]() -> QCoro::Task<> {
        co_await creator.create(items, QStringLiteral("big.bin"), {QStringLiteral("big.bin")}, {},
                                QUrl(QStringLiteral("https://links.example")), QStringLiteral("bench"),
                                QDateTime::currentDateTimeUtc(), ShareFormat::chunkSize, {},
                                [](ShareRecord) -> QCoro::Task<> { co_return; });
    });
}

BENCHMARK(copyto)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(rcat)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(sealed)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(share)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

bool prepare()
{
    setup = std::make_unique<Setup>();
    setup->rclone = QStandardPaths::findExecutable(QStringLiteral("rclone"));
    if (setup->rclone.isEmpty() || !setup->folder.isValid())
        return false;
    setup->source = setup->folder.filePath(QStringLiteral("big.bin"));
    QFile file(setup->source);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (qint64 written = 0; written < shareSize; written += block.size()) {
        for (qsizetype i = 0; i < block.size(); ++i)
            block[i] = char(i * 31 + (written >> 20) * 7 + (i >> 11));
        if (file.write(block) != block.size())
            return false;
    }
    file.close();
    setup->item = ShareFiles::collect({setup->source}).first();
    setup->environment = {{QStringLiteral("RCLONE_CONFIG"), QStringLiteral("/dev/null")},
                          {QStringLiteral("HOME"), setup->folder.path()},
                          {QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin")}};
    // A local folder is an engine file system of its own: the shares folder is a plain path.
    setup->storage = std::make_shared<RcloneShareStorage>(setup->rclone, setup->environment,
                                                          remote() + u'/' + QLatin1String(ShareFormat::sharesFolder));
    clearRemote();
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (!prepare()) {
        std::fprintf(stderr, "The engine program or a temporary folder is missing\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    setup.reset();
    return 0;
}
