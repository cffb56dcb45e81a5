#include "DriveCore/shares/ShareStorage.h"

#include "DriveCore/support/AppModelError.h"

namespace DriveCore {

namespace {

[[noreturn]] void unavailable()
{
    throw AppModelError(QString::fromUtf8(UnavailableShareStorage::unavailableText));
}

} // namespace

QCoro::Task<> UnavailableShareStorage::upload(QString, QString, qint64, Produce, CancelToken) const
{
    unavailable();
    co_return;
}

QCoro::Task<> UnavailableShareStorage::put(QString, QString, QByteArray, CancelToken) const
{
    unavailable();
    co_return;
}

QCoro::Task<> UnavailableShareStorage::deleteObject(QString, QString, CancelToken) const
{
    unavailable();
    co_return;
}

QCoro::Task<> UnavailableShareStorage::deleteAll(QString, CancelToken) const
{
    unavailable();
    co_return;
}

} // namespace DriveCore
