#include "CorvaneDrive/Setup/RecoveryKitPresenter.h"

#include "CorvaneDrive/Setup/StoragePresenter.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace CorvaneDrive {

QByteArray RecoveryKitPresenter::fileBytes(const QString &code)
{
    // Other computers read this file: its words stay as they were, whatever the screen says.
    return QByteArrayLiteral("Ovra Recovery Kit\n\n"
                             "Save this code in your password manager. With it and your passphrase you can open "
                             "your drive on any Mac.\n\n")
        + code.toUtf8()
        + QByteArrayLiteral(
               "\n\nOn another Mac: open Ovra, choose \"I already have a drive\", then \"Paste Recovery Kit\".");
}

QString RecoveryKitPresenter::saveFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir())
        return documents;
    return QDir::homePath();
}

void RecoveryKitPresenter::save(const QString &path, const QString &code)
{
    const QFileInfo target(path);
    const QString description = QStringLiteral("The file “%1” couldn't be saved in the folder “%2”.")
                                    .arg(target.fileName(), QDir::toNativeSeparators(target.absolutePath()));
    QSaveFile file(path);
    const QByteArray bytes = fileBytes(code);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw SaveError(description, file.errorString());
}

QList<RecoveryKitPresenter::Row> RecoveryKitPresenter::detailRows(const DriveCore::StorageSecrets &secrets)
{
    return {
        {StoragePresenter::endpointTitle, secrets.endpoint},
        {StoragePresenter::bucketTitle, secrets.bucket},
        {StoragePresenter::accessKeyIDTitle, secrets.accessKeyID},
        {StoragePresenter::secretAccessKeyTitle, secrets.secretAccessKey},
    };
}

} // namespace CorvaneDrive
