#pragma once

#include "CorvaneDrive/Shares/ShareDonePresenter.h"
#include "DriveCore/shares/SharesModel.h"

#include <QLineEdit>
#include <QPointer>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;

// A link on one line: shortened in the middle to fit while it is only looked at, whole while it
// has the focus, so that what is selected and copied from it is always the whole link.
class LinkField : public QLineEdit {
    Q_OBJECT
public:
    explicit LinkField(const QString &link, QWidget *parent = nullptr);

    const QString &link() const { return m_link; }

protected:
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void showShortened();

    QString m_link;
};

// The finished link: the link ready to copy, its rules, the password reminder, and the ways on.
class ShareDone : public QWidget {
    Q_OBJECT
public:
    // `openList` shows the Shared Links window.
    ShareDone(DriveCore::SharesModel &shares, DriveCore::ShareRecord record, std::function<void()> openList,
              QWidget *parent = nullptr);

    LinkField *linkField() const { return m_link; }
    QPushButton *copyButton() const { return m_copy; }
    QPushButton *sharedLinksButton() const { return m_sharedLinks; }
    QPushButton *doneButton() const { return m_done; }

private:
    QPointer<DriveCore::SharesModel> m_shares;
    ShareDonePresenter m_presenter;
    LinkField *m_link;
    QPushButton *m_copy;
    QPushButton *m_sharedLinks;
    QPushButton *m_done;
};
