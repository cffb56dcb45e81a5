#pragma once

#include "DriveCore/shares/SharesModel.h"

#include <QString>

#include <optional>

// What the Share window shows for the share model's state: one face at a time, chosen afresh on
// every change of the model. The window keeps no state of its own, so closing it stops nothing
// and reopening it shows the same face.
class ShareWindowPresenter {
public:
    static inline const QString windowTitle = QStringLiteral("Share");
    static inline const QString errorTitle = QStringLiteral("Couldn't open share links");
    static inline const QString tryAgainTitle = QStringLiteral("Try Again");
    static inline const QString openingText = QStringLiteral("Opening…");
    static inline const QString preparingTitle = QStringLiteral("Preparing link…");
    static inline const QString cancelTitle = QStringLiteral("Cancel");

    static constexpr int width = 500; // the padded whole; the height follows the face
    static constexpr int padding = 24; // on every side
    static constexpr int spacing = 14; // between the face's parts
    static constexpr int preparingSpacing = 12;

    enum class Face {
        error, // the link page could not be looked up yet
        opening, // it is being looked up
        setup, // no link page yet
        form, // idle, or the last attempt failed
        preparing, // a link is being made
        done, // the link just made
    };

    // The fields of the share model that choose the face.
    struct State {
        std::optional<QString> workerLoadError;
        bool workerChecked = false;
        bool hasWorker = false;
        DriveCore::SharesModel::CreateState createState;
        QString pickedTitle;

        static State of(const DriveCore::SharesModel &shares);
    };

    // The first that holds: an error before any look-up succeeded; a look-up under way; no link
    // page; then by the creation's state.
    static Face face(const State &state);

    // Which view draws the face: a change of key makes a new one, so a form that comes back after
    // the preparing face starts from its defaults, while failed and idle keep the same form.
    struct Key {
        Face face = Face::opening;
        QString recordID; // for done
        bool operator==(const Key &) const = default;
    };
    static Key key(const State &state);

    // "Ovra is making a locked copy of “<title>” for this link. …"
    static QString preparingText(const QString &pickedTitle);
    // The percentage cut towards zero, "% · ", then both byte counts; none while the total is 0.
    static std::optional<QString> progressLine(const DriveCore::ShareProgress &progress);
};
