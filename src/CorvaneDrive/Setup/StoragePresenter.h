#pragma once

#include "DriveCore/keys/SetupState.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace CorvaneDrive {

// The storage screen of both setup roads: which body and explanation it shows for the fields of
// the assistant, and the two instruction panels for a user who has no storage yet.
class StoragePresenter {
public:
    enum class Body { recoveryKit, manual };
    enum class Explanation { cloudflareKeyInstructions, r2Instructions, existingDriveLine };

    struct Face {
        bool showsEntryPicker = false; // existing drive only
        Body body = Body::manual;
        Explanation explanation = Explanation::cloudflareKeyInstructions;
        bool showsCloudflareKey = true; // else the two storage keys

        bool operator==(const Face &) const = default;
    };

    // Numbered steps, an optional dimmed note and a link to the Cloudflare dashboard.
    struct Panel {
        QStringList lines;
        std::optional<QString> note;
        QString linkTitle;
        QUrl link;
    };

    static inline const QString title = QStringLiteral("Connect your storage");
    static inline const QString pasteKitSegment = QStringLiteral("Paste Recovery Kit");
    static inline const QString manualSegment = QStringLiteral("Enter keys manually");
    static inline const QString kitIntro = QStringLiteral(
        "Paste the Recovery Kit code you saved when you first set up your drive, then type your passphrase.");
    static inline const QString codePlaceholder = QStringLiteral("CDKIT1.…");
    static inline const QString passphraseTitle = QStringLiteral("Passphrase");
    static inline const QString cloudflareKeySegment = QStringLiteral("One Cloudflare API token");
    static inline const QString storageKeysSegment = QStringLiteral("Storage keys");
    static inline const QString existingDriveLine = QStringLiteral("Type the storage details for your drive.");
    static inline const QString endpointTitle = QStringLiteral("Endpoint");
    static inline const QString bucketTitle = QStringLiteral("Bucket");
    static inline const QString cloudflareKeyTitle = QStringLiteral("Cloudflare API token");
    static inline const QString accessKeyIDTitle = QStringLiteral("Access Key ID");
    static inline const QString secretAccessKeyTitle = QStringLiteral("Secret Access Key");
    static inline const QString openKitTitle = QStringLiteral("Open Recovery Kit");
    static inline const QString testTitle = QStringLiteral("Test Connection");

    // Where the "Open Cloudflare" links go: the dashboard's home.
    static inline const QUrl dashboardURL = QUrl(QStringLiteral("https://dash.cloudflare.com"));
    static inline const QString openCloudflareTitle = QStringLiteral("Open Cloudflare");
    // R2's S3 endpoint with the account's identifier left out, as the instructions show it.
    static QString shortR2Address();
    // The form of an R2 S3 endpoint, shown in the empty "Endpoint" field.
    static QString endpointPlaceholder();

    static Face face(const DriveCore::SetupState &state);
    static Panel cloudflareKeyInstructions();
    static Panel r2Instructions();
};

} // namespace CorvaneDrive
