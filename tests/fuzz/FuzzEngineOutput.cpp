// What one-shot engine commands print. Field 0 "listing": field 1 is the output of a storage
// listing ("lsf --format sp" with a tab between size and name); each entry, listed again, reads
// as itself. Field 0 "progress": field 1 is one line of the copy's JSON log; a report, logged
// again as a statistics line, reads as itself.
#include "Fuzz.h"

#include "DriveCore/keys/DriveConnection.h"
#include "DriveCore/services/CopyAllFiles.h"

#include <QJsonDocument>
#include <QJsonObject>

using namespace DriveCore;

namespace {

void listing(const QByteArray &output)
{
    const QList<DriveConnection::Entry> entries = DriveConnection::parseListing(output);
    FUZZ_CHECK(entries.size() <= output.count('\n') + 1);
    for (const DriveConnection::Entry &entry : entries) {
        const QByteArray line = QByteArray::number(entry.size) + '\t' + entry.name.toUtf8() + (entry.isDir ? "/" : "");
        FUZZ_CHECK(DriveConnection::parseListing(line) == QList<DriveConnection::Entry>{entry});
    }
}

void progress(const QByteArray &line)
{
    const std::optional<CopyProgress> report = CopyAllFiles::progress(Fuzz::text(line));
    if (!report)
        return;
    const QJsonObject stats{{QStringLiteral("bytes"), report->bytesDone},
                            {QStringLiteral("totalBytes"), report->bytesTotal}};
    const QByteArray logged =
        QJsonDocument(QJsonObject{{QStringLiteral("stats"), stats}}).toJson(QJsonDocument::Compact);
    FUZZ_CHECK(CopyAllFiles::progress(QString::fromUtf8(logged)) == report);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> input = Fuzz::fields(data, size, 2);
    if (input[0] == "listing")
        listing(input[1]);
    else if (input[0] == "progress")
        progress(input[1]);
    return 0;
}
