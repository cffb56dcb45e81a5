// The tray label's face and reactions over a model built on fakes, without a display, and the
// delegate's readings of the information list.
#include "../../DriveCore/model/AppModelFixture.h"

#include "CorvaneDrive/Shell/AppDelegate.h"
#include "CorvaneDrive/Shell/MenuBarLabel.h"
#include "CorvaneDrive/Shell/MenuContent.h"

using namespace CorvaneDrive;
using namespace DriveCore;
using Access = DriveCore::AppModelTestAccess;
using Phase = DriveCore::AppModelPhase;

namespace {

class MenuBarLabelTest : public AppModelTest::ModelTest {
protected:
    MenuBarLabel &label()
    {
        if (!m_label) {
            m_label = std::make_unique<MenuBarLabel>(
                &model(), &presence,
                MenuBarLabel::Effects{
                    .activate = [this] { events << QStringLiteral("activate"); },
                    .openWindow = [this](const QString &id) { events << QStringLiteral("open ") + id; },
                    .showAlert =
                        [this](const QString &text, std::function<void()> closed) {
                            events << QStringLiteral("alert ") + text;
                            alertClosed = std::move(closed);
                        },
                    .dismissKeepAlert =
                        [this] {
                            events << QStringLiteral("dismiss");
                            Access::assign(model(), Access::keepAlert(model()), std::optional<QString>(),
                                           &AppModel::keepAlertChanged);
                        },
                });
        }
        return *m_label;
    }

    void setConflicts(int count)
    {
        QList<DriveConflict> list;
        for (int i = 0; i < count; ++i)
            list << DriveConflict{QStringLiteral("f%1.txt").arg(i),
                                  QStringLiteral("f%1 (conflict from Mac).txt").arg(i), QStringLiteral("Mac")};
        Access::assign(model(), Access::conflicts(model()), list, &AppModel::conflictsChanged);
    }

    MenuBarPresence presence;
    QStringList events;
    std::function<void()> alertClosed;
    std::unique_ptr<MenuBarLabel> m_label;
};

} // namespace

TEST(MenuBarLabelFace, IconsAndToolTip)
{
    EXPECT_EQ(MenuBarLabel::iconName(QStringLiteral("cloud")), QStringLiteral("corvane-drive-symbolic"));
    EXPECT_EQ(MenuBarLabel::iconName(QStringLiteral("icloud.and.arrow.up")),
              QStringLiteral("corvane-drive-uploading-symbolic"));
    EXPECT_EQ(MenuBarLabel::iconName(QStringLiteral("icloud.slash")), QStringLiteral("corvane-drive-offline-symbolic"));
    EXPECT_EQ(MenuBarLabel::iconName(QStringLiteral("exclamationmark.icloud")),
              QStringLiteral("corvane-drive-problem-symbolic"));
    EXPECT_EQ(MenuBarLabel::toolTip(AppModel::allSafeText), QStringLiteral("Ovra — All files safe in cloud ✓"));
}

TEST_F(MenuBarLabelTest, FaceFollowsTheModel)
{
    label().start();
    int changes = 0;
    QObject::connect(&label(), &MenuBarLabel::faceChanged, [&] { ++changes; });
    Access::setPhase(model(), Phase{Phase::running, {}});
    Access::assign(model(), Access::pendingUploads(model()), qint64(3), &AppModel::pendingUploadsChanged);
    EXPECT_EQ(label().iconName(), MenuBarLabel::uploadingIcon);
    Access::setPhase(model(), Phase{Phase::offline, {}});
    EXPECT_EQ(label().iconName(), MenuBarLabel::offlineIcon);
    EXPECT_EQ(label().toolTip(), QStringLiteral("Ovra — Waiting for internet"));
    EXPECT_GE(changes, 3);
}

TEST_F(MenuBarLabelTest, SetupOpensWhenThePhaseBecomesNeedsSetupAndWhenItAlreadyIsAtStart)
{
    Access::setPhase(model(), Phase{Phase::needsSetup, {}});
    label().start();
    EXPECT_EQ(events, (QStringList{"activate", "open setup"}));
    events.clear();
    Access::setPhase(model(), Phase{Phase::running, {}});
    Access::setPhase(model(), Phase{Phase::starting, {}});
    EXPECT_TRUE(events.isEmpty());
    Access::setPhase(model(), Phase{Phase::needsSetup, {}});
    EXPECT_EQ(events, (QStringList{"activate", "open setup"}));
}

TEST_F(MenuBarLabelTest, HomeOpensOnceWantedAndTheWishIsClaimed)
{
    presence.setHomeWanted(true);
    label().start(); // catches up with a wish made before it started
    EXPECT_EQ(events, (QStringList{"activate", "open home"}));
    EXPECT_FALSE(presence.homeWanted());
    events.clear();
    presence.setHomeWanted(true);
    EXPECT_EQ(events, (QStringList{"activate", "open home"}));
    EXPECT_FALSE(presence.homeWanted());
}

TEST_F(MenuBarLabelTest, ConflictWindowOpensOnlyWhenTheCountGrows)
{
    label().start();
    const struct {
        int count;
        bool opens;
    } steps[] = {{1, true}, {2, true}, {1, false}, {1, false}, {0, false}, {3, true}};
    for (const auto &step : steps) {
        events.clear();
        setConflicts(step.count);
        EXPECT_EQ(events.contains("open conflict"), step.opens) << step.count;
    }
}

TEST_F(MenuBarLabelTest, KeepAlertShowsWithoutHoldingTheModelAndIsDismissedAfterOK)
{
    label().start();
    Access::assign(model(), Access::keepAlert(model()), std::optional(QStringLiteral("Couldn't keep these.")),
                   &AppModel::keepAlertChanged);
    // Shown, and the model's signal has returned while the alert is still up.
    EXPECT_EQ(events, (QStringList{"activate", "alert Couldn't keep these."}));
    EXPECT_TRUE(model().keepAlert().has_value());
    ASSERT_TRUE(alertClosed);
    alertClosed();
    EXPECT_EQ(events, (QStringList{"activate", "alert Couldn't keep these.", "dismiss"}));
    EXPECT_FALSE(model().keepAlert().has_value());
}

TEST_F(MenuBarLabelTest, SearchHotKeyOpensSearchOnlyOnceSetUp)
{
    label().start();
    label().searchRequested();
    EXPECT_TRUE(events.isEmpty());
    Access::setSettings(model(), settings);
    label().searchRequested();
    EXPECT_EQ(events, (QStringList{"activate", "open search"}));
}

TEST_F(MenuBarLabelTest, PresenceNotifiesOnlyOnChange)
{
    int shown = 0;
    QObject::connect(&presence, &MenuBarPresence::shownChanged, [&] { ++shown; });
    presence.setShown(true);
    EXPECT_EQ(shown, 0);
    presence.setShown(false);
    presence.setShown(true);
    EXPECT_EQ(shown, 2);
}

TEST(AppDelegateInfo, UpdateKeyAndBuildNumber)
{
    const auto key = [](QVariant value) {
        QVariantMap info;
        if (value.isValid())
            info.insert(QStringLiteral("SUPublicEDKey"), value);
        return AppDelegate::updatesConfigured(info);
    };
    EXPECT_FALSE(key(QStringLiteral("REPLACE_ME")));
    EXPECT_FALSE(key(QStringLiteral("")));
    EXPECT_FALSE(key(QVariant()));
    EXPECT_FALSE(key(42));
    EXPECT_TRUE(key(QStringLiteral("a3Rb")));

    const auto build = [](QVariant value) {
        QVariantMap info;
        if (value.isValid())
            info.insert(QStringLiteral("CFBundleVersion"), value);
        return AppDelegate::appBuild(info);
    };
    const struct {
        QVariant value;
        qint64 build;
    } builds[] = {
        {QStringLiteral("120"), 120},
        {QStringLiteral("1.2.0"), 0},
        {QStringLiteral("+7"), 7},
        {QStringLiteral("-3"), -3},
        {QVariant(), 0},
        {QStringLiteral(""), 0},
        {QStringLiteral("+"), 0},
        {QStringLiteral("12a"), 0},
        {QStringLiteral("99999999999999999999"), 0},
        {QStringLiteral("+-1"), 0},
        {120, 0},
    };
    for (const auto &row : builds)
        EXPECT_EQ(build(row.value), row.build) << row.value.toString().toStdString();
}
