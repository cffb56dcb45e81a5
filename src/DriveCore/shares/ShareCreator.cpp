#include "DriveCore/shares/ShareCreator.h"

#include "DriveCore/shares/ShareFileReader.h"
#include "DriveCore/shares/ShareFormat.h"
#include "DriveCore/shares/ShareManifest.h"
#include "DriveCore/shares/ShareMeta.h"
#include "DriveCore/shares/ShareRecords.h"
#include "DriveCore/support/Base64URL.h"
#include "DriveCore/support/Log.h"
#include "DriveCore/support/Tasks.h"
#include "DriveCore/support/Threads.h"

#include <exception>
#include <mutex>
#include <optional>

namespace DriveCore {

namespace {

const Log logger("shares");

// The plain bytes sealed so far, shared by the uploads of one link.
class Counter {
public:
    qint64 add(qint64 bytes)
    {
        const std::lock_guard lock(m_lock);
        m_value += bytes;
        return m_value;
    }

private:
    std::mutex m_lock;
    qint64 m_value = 0;
};

struct FileUpload {
    ShareItem item;
    QByteArray contentKey;
    qint64 index;
    qint64 chunkSize;
    std::shared_ptr<Counter> counter;
    qint64 total;
    ShareCreator::Progress progress;
    CancelToken token;

    // The producer of "f/<index>": reads, seals and hands on one chunk at a time, on the
    // storage's thread.
    void operator()(const ShareStorage::Write &write) const
    {
        ShareFileReader file = open();
        qint64 read = 0;
        const qint64 sealed = ShareFormat::encryptStream(
            contentKey, index, chunkSize,
            [&](qint64 maxBytes) {
                checkCancelled(token);
                QByteArray piece = file.read(maxBytes);
                read += piece.size();
                // A file that grew would overrun the size the upload announced: stop at once.
                if (read > item.size)
                    throw ShareCreator::Failure(ShareCreator::Failure::fileChanged, item.path);
                return piece;
            },
            [&](const QByteArray &chunk) {
                write(chunk);
                const qint64 done = counter->add(chunk.size() - ShareFormat::tagSize);
                if (progress)
                    progress(ShareProgress{done, total});
            });
        if (sealed != item.size)
            throw ShareCreator::Failure(ShareCreator::Failure::fileChanged, item.path);
    }

    ShareFileReader open() const
    {
        try {
            return ShareFileReader(item.url, item.identity);
        } catch (const ShareFileReader::NotTheChosenFile &) {
            throw ShareCreator::Failure(ShareCreator::Failure::fileChanged, item.path);
        }
    }
};

// Removes what a failed creation wrote, and says whether that worked. Not under the creation's
// token: a cancelled creation still cleans up.
QCoro::Task<bool> removeShare(std::shared_ptr<const ShareStorage> storage, QString id)
{
    bool removed = true;
    try {
        co_await storage->deleteAll(id);
    } catch (const std::exception &error) {
        logger.error("A failed share link was not removed: %{public}s", error.what());
        removed = false;
    }
    co_return removed;
}

} // namespace

ShareCreator::Failure::Failure(Case value, QString text)
    : std::runtime_error(value == fileChanged ? "ShareCreator::Failure::fileChanged"
                                              : "ShareCreator::Failure::mayStillBeLive"),
      value(value), text(std::move(text))
{
}

QCoro::Task<ShareRecord> ShareCreator::create(QList<ShareItem> items, QString title, QStringList sharedPaths,
                                              ShareOptions options, QUrl workerURL, QString deviceName, QDateTime now,
                                              qint64 chunkSize, Progress progress, SaveRecord saveRecord,
                                              CancelToken token) const
{
    // Copies, so the creator may go away while the link is made.
    const std::shared_ptr<const ShareStorage> storage = m_storage;
    const uint32_t rounds = m_pwRounds;

    const QString id = ShareFormat::newShareID();
    const QByteArray secret = ShareFormat::newSecret();
    std::optional<QString> password = options.password;
    if (password && password->isEmpty())
        password.reset();
    // A password key is hundreds of thousands of rounds: never on the main thread.
    const ShareFormat::Keys keys = co_await runInPool(
        [id, secret, password, rounds] { return ShareFormat::deriveKeys(id, secret, password, rounds); });

    qint64 total = 0;
    for (const ShareItem &item : items)
        total += item.size;
    const auto counter = std::make_shared<Counter>();

    std::optional<ShareMeta> meta;
    std::optional<ShareRecord> record;
    co_await cleanupOnFailure(
        [&]() -> QCoro::Task<> {
            QList<qint64> encryptedSizes;
            for (qsizetype index = 0; index < items.size(); ++index) {
                const ShareItem &item = items[index];
                const qint64 size = ShareFormat::encryptedSize(item.size, chunkSize);
                co_await storage->upload(
                    id, QStringLiteral("f/") + QString::number(index), size,
                    FileUpload{item, keys.contentKey, index, chunkSize, counter, total, progress, token}, token);
                encryptedSizes.append(size);
            }

            QList<ShareManifest::File> files;
            for (const ShareItem &item : items) {
                files.append({item.path, item.size,
                              item.modified ? std::optional(ShareRecords::dateText(*item.modified)) : std::nullopt});
            }
            co_await storage->put(id, QStringLiteral("manifest"),
                                  ShareFormat::encryptManifest(ShareManifest(title, chunkSize, files), keys.contentKey),
                                  token);

            // Whole seconds since 1970, cut toward zero.
            const qint64 created = now.toMSecsSinceEpoch() / 1000;
            std::optional<qint64> expires;
            if (const std::optional<qint64> seconds = options.expiry.seconds())
                expires = created + *seconds;
            meta.emplace(keys.accessHash, password.has_value(), qint64(rounds), created, expires, options.maxDownloads,
                         qint64(items.size()), total, encryptedSizes);
            record = ShareRecord{
                id,
                Base64URL::encode(secret),
                password,
                title,
                sharedPaths,
                qint64(items.size()),
                total,
                now,
                expires ? std::optional(QDateTime::fromSecsSinceEpoch(*expires, Qt::UTC)) : std::nullopt,
                options.maxDownloads,
                workerURL,
                deviceName,
            };

            checkCancelled(token);
            co_await saveRecord(*record);
            checkCancelled(token);
        }(),
        [&]() -> QCoro::Task<> { co_await removeShare(storage, id); });

    // From here on the link may be live.
    std::exception_ptr failure;
    try {
        co_await storage->put(id, QStringLiteral("meta.json"), meta->encoded(), token);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        if (!co_await removeShare(storage, id))
            throw Failure(Failure::mayStillBeLive, id);
        std::rethrow_exception(failure);
    }
    logger.info("Share link made: %lld files, %lld bytes", qint64(items.size()), total);
    co_return *record;
}

QCoro::Task<> ShareCreator::stop(QString id, std::shared_ptr<const ShareStorage> storage, CancelToken token)
{
    co_await storage->deleteObject(id, QStringLiteral("meta.json"), token);
    co_await storage->deleteAll(id, token);
}

} // namespace DriveCore
