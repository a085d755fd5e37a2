// The common frame of the right-hand operation panels: a frameless dialog with a header button
// "操作" that closes it. A panel overrides setupPanel(), calls the base version first, adds its
// own rows to mainLayout() and ends with finishLayout(). Panels only emit signals; the window
// that opens them decides what a confirmation does.
#pragma once

#include <QAbstractButton>
#include <QDialog>
#include <QSize>
#include <QString>

#include "nav_button.h"

class QHBoxLayout;
class QVBoxLayout;

class RightConfigWidget : public QDialog {
    Q_OBJECT

public:
    explicit RightConfigWidget(QWidget* parent = nullptr);

    virtual void setupPanel(int width, int height);

    NavButton* headerButton() const { return header_button_; }

    // A non-checkable button with a text and, when `image` is given, its icon set
    // (`image`, `image`_hover for hover and pressed, `image`_ban when disabled).
    static NavButton* createImageButton(QWidget* parent, const QString& text, const QString& image,
                                        const QSize& size);

Q_SIGNALS:
    void signalsClose();

public Q_SLOTS:
    void slotsClose();

protected:
    QVBoxLayout* mainLayout() const { return main_layout_; }
    // The confirm row: "确认", fixed 120 x 30, left-aligned; its click runs `slot`.
    template <typename Panel>
    NavButton* addConfirmRow(Panel* panel, void (Panel::*slot)()) {
        NavButton* button = createConfirmRow();
        connect(button, &QAbstractButton::clicked, panel, slot);
        return button;
    }
    // Spacing 10, margins 20, 0, 20, 0 and the bottom stretch.
    void finishLayout();

private:
    NavButton* createConfirmRow();

    QVBoxLayout* main_layout_ = nullptr;
    QHBoxLayout* header_layout_ = nullptr;
    NavButton* header_button_ = nullptr;
};
