#include "DriveCore/shares/ShareStorage.h"

namespace DriveCore {

QCoro::Task<> UnavailableShareStorage::upload(QString, QString, qint64, Produce, CancelToken) const
{
    throw Failure();
    co_return;
}

QCoro::Task<> UnavailableShareStorage::put(QString, QString, QByteArray, CancelToken) const
{
    throw Failure();
    co_return;
}

QCoro::Task<> UnavailableShareStorage::deleteObject(QString, QString, CancelToken) const
{
    throw Failure();
    co_return;
}

QCoro::Task<> UnavailableShareStorage::deleteAll(QString, CancelToken) const
{
    throw Failure();
    co_return;
}

} // namespace DriveCore
