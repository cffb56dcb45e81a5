#pragma once

#include <QTextEdit>

namespace CorvaneDrive {

// A code to copy (a Recovery Kit): monospaced on a faint rounded field with an 8-point inner
// margin, selectable, wrapped anywhere (it has no spaces) and exactly as tall as its text.
class CodeView : public QTextEdit {
    Q_OBJECT
public:
    // What a screen reader calls a Recovery Kit's code, wherever it shows.
    static inline const QString recoveryKitName = QStringLiteral("Recovery Kit code");

    explicit CodeView(const QString &code, QWidget *parent = nullptr);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
};

} // namespace CorvaneDrive
