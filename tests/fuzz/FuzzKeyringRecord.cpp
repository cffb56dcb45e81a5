// What the keyring holds for the drive. Field 0 "record": field 1 is the one "drive" item, which
// loads or is UnreadableRecord, and what loads saves and loads back the same. Field 0 "legacy":
// fields 1 to 5 are the older layout's five items, each loaded exactly as stored when all are
// UTF-8. Field 0 "secrets": field 1 is the JSON of the storage keys alone. Field 0 "phone":
// field 1 is the item kept for the phone, which reads back the same after writing.
#include "Fuzz.h"
#include "support/InMemoryKeychain.h"
#include "support/TestSupport.h"

#include "DriveCore/keys/PhoneSync.h"
#include "DriveCore/keys/SecretStore.h"

#include <QJsonDocument>
#include <QStringDecoder>

#include <algorithm>

using namespace DriveCore;
using TestSupport::await;

namespace {

const QString service = QStringLiteral("com.corvane.drive");
const QStringList legacyAccounts{QStringLiteral("endpoint"), QStringLiteral("bucket"), QStringLiteral("accessKeyID"),
                                 QStringLiteral("secretAccessKey"), QStringLiteral("passphrase")};

bool isUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    (void)QString(decoder(bytes)); // the decoder runs when its result becomes text
    return !decoder.hasError();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> input = Fuzz::fields(data, size, 6);
    const auto keychain = std::make_shared<TestSupport::InMemoryKeychain>();
    KeychainSecretStore store(service, keychain);
    if (input[0] == "record") {
        keychain->put(service, QStringLiteral("drive"), input[1]);
        try {
            const auto loaded = await(store.load());
            FUZZ_CHECK(loaded.has_value());
            const std::optional<QString> token = await(store.loadCloudflareKey());
            await(store.save(loaded->first, loaded->second));
            FUZZ_CHECK(await(store.load()) == loaded);
            FUZZ_CHECK(await(store.loadCloudflareKey()) == token);
        } catch (const KeychainSecretStore::UnreadableRecord &) {
        }
    } else if (input[0] == "legacy") {
        for (qsizetype i = 0; i < legacyAccounts.size(); ++i)
            keychain->put(service, legacyAccounts[i], input[i + 1]);
        const auto loaded = await(store.load());
        const bool readable = std::all_of(input.begin() + 1, input.end(), isUtf8);
        FUZZ_CHECK(loaded.has_value() == readable);
        if (loaded) {
            const StorageSecrets &s = loaded->first;
            const QStringList values{s.endpoint, s.bucket, s.accessKeyID, s.secretAccessKey, loaded->second};
            for (qsizetype i = 0; i < values.size(); ++i)
                FUZZ_CHECK(values[i].toUtf8() == input[i + 1]);
        }
    } else if (input[0] == "secrets") {
        if (const auto secrets = StorageSecrets::fromJson(QJsonDocument::fromJson(input[1]).object()))
            FUZZ_CHECK(StorageSecrets::fromJson(secrets->toJson()) == secrets);
    } else if (input[0] == "phone") {
        if (const auto item = PhoneSyncItem::fromJson(input[1]))
            FUZZ_CHECK(PhoneSyncItem::fromJson(item->toJson()) == item);
    }
    return 0;
}
