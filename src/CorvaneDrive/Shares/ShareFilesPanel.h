#pragma once

#include "DriveCore/shares/SharesModel.h"

#include <QCoroTask>
#include <QFileDialog>
#include <QPointer>
#include <QStringList>

#include <functional>

// The open panel of "Share Files…": files and folders, several at once, with the prompt "Share"
// (also while a folder is selected) and a line that says what to choose. Qt's own dialog, since
// the desktop portal's cannot mix files and folders; a folder chosen with "Share" is taken, not
// opened (a double click opens it).
class ShareFilesPanel : public QFileDialog {
    Q_OBJECT
public:
    static inline const QString prompt = QStringLiteral("Share");
    static inline const QString message =
        QStringLiteral("Choose photos, movies or folders from your Ovra drive to share.");
    static inline const QString failureTitle = QStringLiteral("Couldn't share these");

    // Starts in `startFolder` (the drive's mount folder), or where Qt starts without one.
    explicit ShareFilesPanel(const QString &startFolder, QWidget *parent = nullptr);

    // What "Share" took, in the order shown.
    const QStringList &chosen() const { return m_chosen; }

    void accept() override;

    // The menu item's action: shows the panel; when items were chosen, hands them to the share
    // model; a refusal shows the alert "Couldn't share these" with the model's text, otherwise
    // `openShare` brings the Share window forward. Ends quietly when the model goes away.
    static QCoro::Task<> pickAndShare(QPointer<DriveCore::SharesModel> shares, QString mountPath, QWidget *parent,
                                      std::function<void()> openShare);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void keepPrompt();

    QStringList m_chosen;
};
