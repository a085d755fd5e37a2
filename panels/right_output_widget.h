// Configuration export: the camera's parameter groups and items as a two-level check tree. Every
// tick is written back into the panel's copy of the ability record; confirm emits that copy.
// Below the tree, the folder the file goes to ("保存到"), typed or chosen with a folder chooser.
#pragma once

#include <QString>
#include <memory>
#include <vector>

#include "RuDAVADO.h"
#include "right_config_widget.h"

class PathRow;
class QTreeWidget;
class QTreeWidgetItem;

class RightOutputWidget : public RightConfigWidget {
    Q_OBJECT

public:
    explicit RightOutputWidget(QWidget* parent = nullptr);
    ~RightOutputWidget() override;

    void setupPanel(int width, int height) override;
    void setupPanel(int width, int height, const KP_PARAM_IMPORT_ABILITY_V2& record);

    QTreeWidget* tree() const { return tree_; }
    const KP_PARAM_IMPORT_ABILITY_V2& ability() const { return *ability_; }
    NavButton* confirmButton() const { return confirm_button_; }
    // The folder the export writes to, as the row shows it; set before or after setupPanel.
    void setFolder(const QString& folder);
    QString folder() const;
    PathRow* folderRow() const { return folder_row_.get(); }

Q_SIGNALS:
    // By reference: the record is 827,716 bytes, too big for a copy on a thread's stack.
    void signalButtonSetupClicked(const KP_PARAM_IMPORT_ABILITY_V2& ability);

public Q_SLOTS:
    void slotButtonSetupClicked();
    void slotTreeItemChanged(QTreeWidgetItem* item, int column);

private:
    void buildTree();
    void writeBack(QTreeWidgetItem* item);

    // 827,716 bytes: on the heap.
    std::unique_ptr<KP_PARAM_IMPORT_ABILITY_V2> ability_;
    // Item names decoded once per tree build: every tick compares against all of them.
    std::vector<std::vector<QString>> item_names_;
    QTreeWidget* tree_ = nullptr;
    NavButton* confirm_button_ = nullptr;
    std::unique_ptr<PathRow> folder_row_;
    QString folder_;
};
