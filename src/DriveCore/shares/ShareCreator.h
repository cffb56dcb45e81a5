#pragma once

#include "DriveCore/shares/ShareLinks.h"
#include "DriveCore/shares/ShareStorage.h"

#include <QCoroTask>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>

namespace DriveCore {

// Makes one share link and ends it. A link is live exactly while its "meta.json" exists: it is
// written last, after every file, the manifest and the saved record, and deleted first.
class ShareCreator {
public:
    // No text of its own: the share window words each case.
    class Failure : public std::runtime_error {
    public:
        enum Case {
            fileChanged, // a file no longer had the size it had when collected; `text` is its share path
            mayStillBeLive, // "meta.json" may be written and the clean-up failed; `text` is the share id
        };

        Failure(Case value, QString text);

        bool operator==(const Failure &other) const { return value == other.value && text == other.text; }

        Case value;
        QString text;
    };

    // Called from the upload's thread, many times.
    using Progress = std::function<void(const ShareProgress &progress)>;
    // Saves the link's record; called once, when every file and the manifest are written.
    using SaveRecord = std::function<QCoro::Task<>(ShareRecord record)>;

    ShareCreator(std::shared_ptr<const ShareStorage> storage, uint32_t pwRounds)
        : m_storage(std::move(storage)), m_pwRounds(pwRounds)
    {
    }

    // Makes a new id, secret and keys, seals and uploads each item as "f/<index>", one after the
    // other, then the manifest; saves the record; writes "meta.json"; returns the record.
    // Anything failing after the keys are made removes the share's folder again (once), and
    // `create` fails with what stopped it; when "meta.json" could not be written and the folder
    // could not be removed either, it fails with Failure::mayStillBeLive. It never removes the
    // record it had saved. Cancelling `token` stops it with CancelledError.
    QCoro::Task<ShareRecord> create(QList<ShareItem> items, QString title, QStringList sharedPaths,
                                    ShareOptions options, QUrl workerURL, QString deviceName, QDateTime now,
                                    qint64 chunkSize, Progress progress, SaveRecord saveRecord,
                                    CancelToken token = {}) const;

    // Deletes "meta.json", so the link no longer opens, then everything else of the share. When
    // the first step fails nothing else is deleted. Throws the storage's error.
    static QCoro::Task<> stop(QString id, std::shared_ptr<const ShareStorage> storage, CancelToken token = {});

private:
    std::shared_ptr<const ShareStorage> m_storage;
    uint32_t m_pwRounds;
};

} // namespace DriveCore
