#pragma once

#include "CorvaneDrive/Settings/SettingsSheet.h"
#include "CorvaneDrive/Settings/SignOutPresenter.h"

#include "DriveCore/model/AppModel.h"

#include <QCoroTask>
#include <QList>
#include <QMessageBox>
#include <QPointer>

class QProgressBar;

namespace CorvaneDrive {

// "Sign Out of This Computer…": confirms, runs the model's sign-out, follows its steps, lets the user
// cancel or force it while it waits, and shows how it ended. Cannot be closed while a run it
// started is under way.
class SignOutSheet : public SettingsSheet {
    Q_OBJECT
public:
    explicit SignOutSheet(DriveCore::AppModel &model, QWidget *parent = nullptr);

    const SignOutPresenter &state() const { return m_state; }
    QLabel *stepLine() const { return m_step; }
    QLabel *failureLine() const { return m_failure; }
    // The buttons shown now, left to right.
    QList<QPushButton *> shownButtons() const;
    QPushButton *button(SignOutPresenter::Button button) const;
    // The force question while it is open.
    QMessageBox *forceQuestion() const { return m_question; }

    void reject() override;

private:
    void render();
    void pressed(SignOutPresenter::Button button);
    void askForce();
    void confirmForce(const SignOutPresenter::ForceQuestion &question);
    void startRun(bool force);
    static QCoro::Task<> running(QPointer<SignOutSheet> self, QPointer<DriveCore::AppModel> model, bool force);

    QPointer<DriveCore::AppModel> m_model;
    SignOutPresenter m_state;
    QWidget *m_stepRow;
    QProgressBar *m_spinner;
    QLabel *m_step;
    QLabel *m_failure;
    QList<std::pair<SignOutPresenter::Button, QPushButton *>> m_buttons;
    QPointer<QMessageBox> m_question;
};

} // namespace CorvaneDrive
