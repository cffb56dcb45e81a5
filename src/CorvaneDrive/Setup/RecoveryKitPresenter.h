#pragma once

#include "DriveCore/keys/SetupState.h"
#include "DriveCore/support/UserTextError.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace CorvaneDrive {

// The new drive's Recovery Kit after setup: the code to copy or save as a small text file, and
// the storage details shown in clear beside it.
class RecoveryKitPresenter {
public:
    // A failed save of the file: `description` is the alert's sentence, `detail` the system's reason.
    struct SaveError : DriveCore::UserTextError<struct RecoveryKitSaveErrorTag> {
        SaveError(const QString &description, QString detail) : UserTextError(description), detail(std::move(detail)) {}
        QString detail;
    };

    struct Row {
        QString label;
        QString value;

        bool operator==(const Row &) const = default;
    };

    static inline const QString title = QStringLiteral("Your Recovery Kit");
    static inline const QString copyTitle = QStringLiteral("Copy");
    static inline const QString saveTitle = QStringLiteral("Save as File…");
    static inline const QString savedTitle = QStringLiteral("I've Saved It");
    static inline const QString fileName = QStringLiteral("Ovra Recovery Kit.txt");
    // The save dialog offers plain text only.
    static inline const QString fileType = QStringLiteral("text/plain");

    // The file: the heading, the save text, the code and how to use it on another computer,
    // separated by empty lines, UTF-8 without a byte-order mark or a final line feed. It holds
    // neither the passphrase nor the storage details.
    static QByteArray fileBytes(const QString &code);
    // Writes the file at `path` atomically (a temporary file beside it, then a rename), replacing
    // one there. Throws SaveError.
    static void save(const QString &path, const QString &code);
    // Where the save dialog opens: the user's documents folder, else the home folder (never
    // the program's working folder).
    static QString saveFolder();
    // The storage details in their order, values in clear.
    static QList<Row> detailRows(const DriveCore::StorageSecrets &secrets);
};

} // namespace CorvaneDrive
