// What change sync reads from outside. Field 0 "marker": field 1 is a change note fetched from
// the bucket; only JsonDecodingError may come out, and a note that reads encodes and reads back
// the same. Field 0 "log": field 2 is the engine's log, appended in pieces whose lengths are the
// bytes of field 1 (the rest last); read after every piece, it gives the notices of one read of
// the whole log. Field 0 "uploads": fields 1 and 2 are two "core/transferred" replies, the first
// priming the uploads source; what the second adds is reported once.
#include "Fuzz.h"
#include "support/TestSupport.h"

#include "DriveCore/mount/ChangeSync.h"
#include "DriveCore/mount/LocalChangeSources.h"

#include <QFile>
#include <QTemporaryDir>

using namespace DriveCore;
using TestSupport::await;

namespace {

void marker(const QByteArray &json)
{
    try {
        const ChangeMarker note = ChangeMarker::decode(json);
        FUZZ_CHECK(note.time.isValid() && !note.deviceID.isNull());
        FUZZ_CHECK(ChangeMarker::decode(note.encoded()) == note);
    } catch (const JsonDecodingError &) {
    }
}

QList<LocalChange> readLog(const QString &path, const QList<QByteArray> &pieces)
{
    QFile::remove(path);
    const auto source = RcloneLogChangeSource::make(path, std::chrono::seconds(1));
    QList<LocalChange> changes;
    for (const QByteArray &piece : pieces) {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Append) && file.write(piece) == piece.size());
        file.close();
        changes += source->readNewChanges();
    }
    return changes;
}

void log(const QByteArray &lengths, const QByteArray &bytes)
{
    static const QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("rclone.log"));
    QList<QByteArray> pieces;
    qsizetype at = 0;
    for (const char length : lengths) {
        if (at >= bytes.size())
            break;
        pieces.append(bytes.mid(at, uint8_t(length)));
        at += uint8_t(length);
    }
    pieces.append(bytes.mid(at));

    const QList<LocalChange> changes = readLog(path, pieces);
    FUZZ_CHECK(changes == readLog(path, {bytes}));
    for (const LocalChange &change : changes)
        FUZZ_CHECK(!change.path.isEmpty() && !change.path.contains(u'\n') && change.kind != LocalChange::Kind::folder);
}

QList<Transferred> transferred(const QByteArray &json)
{
    return JsonReader(QJsonDocument::fromJson(json).object()).listOrEmpty<Transferred>(u"list");
}

void uploads(const QByteArray &first, const QByteArray &second)
{
    QList<QList<Transferred>> replies;
    try {
        replies = {transferred(first), transferred(second), transferred(second)};
    } catch (const JsonDecodingError &) {
        return;
    }
    const auto source = CompletedUploadsChangeSource::make(
        QString::fromLatin1(RCClient::mountFs),
        [&](CancelToken) -> QCoro::Task<QList<Transferred>> { co_return replies.takeFirst(); },
        std::chrono::seconds(1));
    await(source->prime());
    const qsizetype listed = replies[0].size();
    const QList<LocalChange> added = await(source->readNewChanges());
    FUZZ_CHECK(added.size() <= listed);
    for (const LocalChange &change : added)
        FUZZ_CHECK(change.kind == LocalChange::Kind::changed);
    FUZZ_CHECK(await(source->readNewChanges()).isEmpty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> input = Fuzz::fields(data, size, 2);
    const QList<QByteArray> parts =
        Fuzz::fields(reinterpret_cast<const uint8_t *>(input[1].constData()), size_t(input[1].size()), 2);
    if (input[0] == "marker")
        marker(input[1]);
    else if (input[0] == "log")
        log(parts[0], parts[1]);
    else if (input[0] == "uploads")
        uploads(parts[0], parts[1]);
    return 0;
}
