// What the share code reads back. Field 0 "record": field 1 is a link record fetched from the
// metadata folder; only JsonDecodingError may come out, and a record that reads is stored and
// read back the same. Field 0 "date": field 1 is a record's date text, written and read back the
// same. Field 0 "status": field 1 is the link page's HTTP status (decimal), field 2 its body; the
// status never fails and is live only with the figures of a 200. Field 0 "expiry": field 1 is a
// stored expiry name.
#include "Fuzz.h"

#include "DriveCore/shares/ShareInfo.h"
#include "DriveCore/shares/ShareLinks.h"
#include "DriveCore/shares/ShareRecords.h"

using namespace DriveCore;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> input = Fuzz::fields(data, size, 3);
    const QByteArray &kind = input[0];
    if (kind == "record") {
        std::optional<ShareRecord> record;
        try {
            record = ShareRecords::decoded(input[1]);
        } catch (const JsonDecodingError &) {
            return 0;
        }
        FUZZ_CHECK(record->workerURL.isValid() && !record->workerURL.isRelative());
        // Compared as stored: QUrl tells "#" inside a fragment from "%23", which are stored alike.
        const QByteArray stored = ShareRecords::encoded(*record);
        ShareRecord again = ShareRecords::decoded(stored);
        FUZZ_CHECK(ShareRecords::encoded(again) == stored);
        again.workerURL = record->workerURL;
        FUZZ_CHECK(again == record);
    } else if (kind == "date") {
        if (const std::optional<QDateTime> date = ShareRecords::date(Fuzz::text(input[1]))) {
            FUZZ_CHECK(date->timeSpec() == Qt::UTC);
            FUZZ_CHECK(ShareRecords::date(ShareRecords::dateText(*date)) == date);
        }
    } else if (kind == "status") {
        const int status = input[1].toInt();
        const ShareInfo::Status read = ShareInfo::status(status, input[2]);
        FUZZ_CHECK((read.kind == ShareInfo::Status::live) == read.info.has_value());
        FUZZ_CHECK(read.kind != ShareInfo::Status::live || status == 200);
        FUZZ_CHECK(read.kind != ShareInfo::Status::ended || status == 404 || status == 410);
    } else if (kind == "expiry") {
        if (const std::optional<ShareExpiry> expiry = ShareExpiry::fromText(Fuzz::text(input[1])))
            FUZZ_CHECK(ShareExpiry::fromText(expiry->text()) == expiry);
    }
    return 0;
}
