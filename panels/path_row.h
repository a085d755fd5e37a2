// The path row of the file panels: caption, 60 pixels of space, a path edit (150 x 30), a browse
// button and, where the row carries the action, a start button, then a stretch.
#pragma once

#include <QString>

class QHBoxLayout;
class QLineEdit;
class QWidget;
class NavButton;

class PathRow {
public:
    // `caption` is placed as given (a label or a radio button, sized by the caller).
    PathRow(QWidget* parent, QWidget* caption, bool with_start);

    QHBoxLayout* layout() const { return layout_; }
    QLineEdit* edit() const { return edit_; }
    NavButton* browseButton() const { return browse_; }
    NavButton* startButton() const { return start_; }

    // The multi-file open dialog "选择文件" in "./" for `pattern`; the chosen files replace the
    // edit's text joined by "|", a cancelled dialog leaves it alone.
    static void chooseFiles(QWidget* parent, QLineEdit* edit, const QString& pattern);

private:
    QHBoxLayout* layout_ = nullptr;
    QLineEdit* edit_ = nullptr;
    NavButton* browse_ = nullptr;
    NavButton* start_ = nullptr;
};
