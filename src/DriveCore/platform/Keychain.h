#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace DriveCore {

// Generic-password items, each named by a service and an account, as the desktop's secret store
// keeps them. Calls answer with keychain result codes rather than throwing, so the store above
// can tell "not found" from failures. Every call blocks on the session bus: run it off the main
// thread. Implementations are safe to call from any thread.
class Keychain {
public:
    using Status = int32_t;

    // The result codes callers see; their numbers show in error texts.
    static constexpr Status success = 0;
    static constexpr Status userCanceled = -128;
    static constexpr Status internalComponent = -2070;
    static constexpr Status notAvailable = -25291;
    static constexpr Status duplicateItem = -25299;
    static constexpr Status itemNotFound = -25300;
    static constexpr Status interactionNotAllowed = -25308;

    virtual ~Keychain() = default;

    // The value of the item, or itemNotFound.
    virtual Status copy(const QString &service, const QString &account, QByteArray &data) = 0;
    // Replaces the value of the existing item; itemNotFound when there is none.
    virtual Status update(const QString &service, const QString &account, const QByteArray &data) = 0;
    // Creates the item; duplicateItem when it exists.
    virtual Status add(const QString &service, const QString &account, const QByteArray &data) = 0;
    // Deletes the item; itemNotFound when there is none.
    virtual Status remove(const QString &service, const QString &account) = 0;

    // The English text for a result code, or none for a code we do not know.
    static std::optional<QString> message(Status status);

    // The Secret Service of the session bus, through libsecret. One instance per process.
    static std::shared_ptr<Keychain> live();
};

} // namespace DriveCore
