#pragma once

#include "CorvaneDrive/WindowPresence.h"
#include "CorvaneDrive/Windows/UploadsPresenter.h"

#include <QWidget>

class QLabel;
class QListWidget;
class QProgressBar;

namespace CorvaneDrive {

class EmptyPanel;
class UploadRowView;

// The uploads window ("Uploads"): the model's status line, one row per upload and the queued
// line, or "Nothing uploading". 480 × 360 at first, at least 420 × 280; deletes itself on
// close.
class UploadsWindow : public QWidget {
    Q_OBJECT
public:
    explicit UploadsWindow(DriveCore::AppModel &model, QWidget *parent = nullptr);
    explicit UploadsWindow(UploadsContext context, QWidget *parent = nullptr);
    ~UploadsWindow() override;

    QLabel *statusLabel() const { return m_status; }
    QListWidget *list() const { return m_list; }
    EmptyPanel *emptyPanel() const { return m_panel; }
    // The row of the upload at `index`, or the queued line after them.
    UploadRowView *rowView(int index) const;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void render();

    UploadsContext m_context;
    QObject *m_observer;
    WindowPresence m_presence;
    QLabel *m_status;
    QListWidget *m_list;
    EmptyPanel *m_panel;
};

// One row: the status icon, the name over its detail line, and the size on the right.
class UploadRowView : public QWidget {
    Q_OBJECT
public:
    explicit UploadRowView(QWidget *parent = nullptr);

    void showRow(const DriveCore::UploadRow &row);
    // The queued line: the text beside a clock, dimmed.
    void showQueued(const QString &text);

    QLabel *nameLabel() const;
    QLabel *detailLabel() const { return m_detail; }
    QLabel *sizeLabel() const { return m_size; }
    QProgressBar *bar() const { return m_bar; }

private:
    QLabel *m_icon;
    class ElidedLabel *m_name;
    QProgressBar *m_bar;
    QLabel *m_detail;
    QLabel *m_size;
};

} // namespace CorvaneDrive
