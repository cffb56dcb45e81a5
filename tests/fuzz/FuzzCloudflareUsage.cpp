// Cloudflare's answer to the usage query: field 0 is an instant in the month (ISO 8601 text,
// else a fixed one), field 1 the body. Only JsonDecodingError and CloudflareBill::Failure may come
// out; the figures that read price to amounts of at least nothing, which show as dollars.
#include "Fuzz.h"

#include "DriveCore/engine/RCClient.h"
#include "DriveCore/services/CloudflareBill.h"

#include <cmath>

using namespace DriveCore;

namespace {

void checkBill(const R2Bill &bill)
{
    for (const double item : {bill.storage, bill.classA, bill.classB})
        FUZZ_CHECK(std::isfinite(item) && item >= 0);
    FUZZ_CHECK(CloudflareBill::amount(bill.total()).contains(u'$'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> input = Fuzz::fields(data, size, 2);
    QDateTime now = QDateTime::fromString(QString::fromLatin1(input[0]), Qt::ISODate);
    if (!now.isValid())
        now = QDateTime(QDate(2026, 12, 10), QTime(14, 50), Qt::UTC);
    try {
        const R2MonthUsage usage = CloudflareBill::parse(input[1]);
        FUZZ_CHECK(usage.gbMonthsSoFar() >= 0
                   || std::any_of(usage.dailyPeakBytes.begin(), usage.dailyPeakBytes.end(),
                                  [](qint64 peak) { return peak < 0; }));
        checkBill(usage.billSoFar());
        checkBill(usage.forecast(BillingMonth(now)));
    } catch (const JsonDecodingError &) {
    } catch (const CloudflareBill::Failure &) {
    }
    return 0;
}
