#pragma once

#include <QString>
#include <QWidget>

class QAbstractScrollArea;
class QLabel;
class QProgressBar;

namespace CorvaneDrive {

// What a list shows over its empty space: a spinner, or a panel of an icon, a title and a
// one-line description, centred in the list's viewport. It lets the mouse through to the list.
class EmptyPanel : public QWidget {
    Q_OBJECT
public:
    explicit EmptyPanel(QAbstractScrollArea *list);

    void showPanel(const QString &icon, const QString &title, const QString &description);
    void showBusy();
    void clear();

    QLabel *titleLabel() const { return m_title; }
    QLabel *descriptionLabel() const { return m_description; }
    QProgressBar *spinner() const { return m_spinner; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLabel *m_icon;
    QLabel *m_title;
    QLabel *m_description;
    QProgressBar *m_spinner;
};

} // namespace CorvaneDrive
