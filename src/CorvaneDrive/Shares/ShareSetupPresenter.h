#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

// The link-page set-up view: the steps to make a Cloudflare API token, the typed token and when
// "Set Up" may start the share model's deployment. The deployment, its checks and its failure
// texts are the model's.
class ShareSetupPresenter {
public:
    static inline const QString firstTitle = QStringLiteral("Set up share links (one time)");
    static inline const QString updateTitle = QStringLiteral("Update your link page");
    static inline const QString introText = QStringLiteral(
        "Share links use a small free page in your own Cloudflare account. Nobody else, not even Corvane, can see your "
        "files. To put it there, Ovra needs your Cloudflare API token:");
    // Words between double asterisks are shown bold.
    static inline const QStringList steps{
        QStringLiteral("1. Open Cloudflare's API Tokens page (button below) and click **Create Token**."),
        QStringLiteral("2. Name it **Ovra** and click **Edit Cloudflare Workers** under Permission policies."),
        QStringLiteral(
            "3. Open the **Entire … account** policy. Make sure **Workers R2 Storage** has **Edit** ticked (so "
            "the page can reach your bucket), and tick **Account Analytics** · **Read** (for this month's "
            "figures in Settings)."),
        QStringLiteral("4. Leave the rest as it is."),
        QStringLiteral("5. Click **Review token**, then **Create token**, then **Copy**."),
        QStringLiteral("6. Paste it below and click **Set Up**."),
    };
    static inline const QString openTokensTitle = QStringLiteral("Open Cloudflare API Tokens");
    static inline const QString tokenPlaceholder = QStringLiteral("Paste the API token here");
    // What a screen reader calls the token field, which has no label of its own.
    static inline const QString tokenName = QStringLiteral("Cloudflare API token");
    static inline const QString keychainText = QStringLiteral(
        "Ovra keeps this API token in your keyring, for your link page and this month's Cloudflare figures. "
        "It's never sent to Corvane.");
    static inline const QString settingUpText = QStringLiteral("Setting up…");
    static inline const QString setUpTitle = QStringLiteral("Set Up");
    // The Cloudflare dashboard's page for API tokens.
    static inline const QUrl tokensPage{QStringLiteral("https://dash.cloudflare.com/profile/api-tokens")};

    static constexpr int stepSpacing = 6;

    // `updating`: for a link page that is deployed already; it changes only the title.
    explicit ShareSetupPresenter(bool updating) : m_updating(updating) {}

    QString title() const { return m_updating ? updateTitle : firstTitle; }

    // What the user typed or pasted, sent exactly so.
    QString token;

    // The token has more than spaces and tabs, and no deployment runs.
    bool canSetUp(bool settingUp) const;
    // A set-up ended with `message` as the model's failure: the token goes only after a success,
    // so that a refused one can be corrected.
    void setUpEnded(const std::optional<QString> &message);

    // "**x**" as bold rich text, the rest escaped.
    static QString emphasised(const QString &text);

private:
    bool m_updating;
};
