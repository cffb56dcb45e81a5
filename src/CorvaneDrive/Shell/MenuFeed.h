#pragma once

#include "CorvaneDrive/Shell/MenuContent.h"

#include <QObject>
#include <QPointer>

#include <functional>

namespace CorvaneDrive {

// The menu's rows kept current: re-read from the model (and the share model) whenever a value
// they depend on changes, for the tray menu and the home window alike, which render them and
// hand each chosen action to `perform`. Main thread.
class MenuFeed : public QObject {
    Q_OBJECT
public:
    using Perform = std::function<void(MenuContent::Action)>;

    MenuFeed(DriveCore::AppModel *model, Perform perform, QObject *parent = nullptr);

    // Follows the share model too, once it exists.
    void setShares(DriveCore::SharesModel *shares);

    QList<MenuContent::Row> rows() const;
    void perform(MenuContent::Action action) const { m_perform(action); }

signals:
    void changed();

private:
    QPointer<DriveCore::AppModel> m_model;
    QPointer<DriveCore::SharesModel> m_shares;
    Perform m_perform;
};

} // namespace CorvaneDrive
