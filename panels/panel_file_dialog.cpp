#include "panel_file_dialog.h"

#include <QFileDialog>

namespace {

PanelFileDialog::OpenFiles& openFiles() {
    static PanelFileDialog::OpenFiles hook;
    return hook;
}

PanelFileDialog::SaveFile& saveFile() {
    static PanelFileDialog::SaveFile hook;
    return hook;
}

PanelFileDialog::OpenFolder& openFolder() {
    static PanelFileDialog::OpenFolder hook;
    return hook;
}

}  // namespace

QStringList PanelFileDialog::getOpenFileNames(QWidget* parent, const QString& caption, const QString& dir,
                                              const QString& filter) {
    if (openFiles()) return openFiles()(parent, caption, dir, filter);
    return QFileDialog::getOpenFileNames(parent, caption, dir, filter);
}

QString PanelFileDialog::getSaveFileName(QWidget* parent, const QString& caption, const QString& dir,
                                         const QString& filter) {
    if (saveFile()) return saveFile()(parent, caption, dir, filter);
    return QFileDialog::getSaveFileName(parent, caption, dir, filter);
}

void PanelFileDialog::setOpenFiles(OpenFiles open_files) { openFiles() = std::move(open_files); }

void PanelFileDialog::setSaveFile(SaveFile save_file) { saveFile() = std::move(save_file); }

QString PanelFileDialog::getExistingDirectory(QWidget* parent, const QString& caption, const QString& dir) {
    if (openFolder()) return openFolder()(parent, caption, dir);
    return QFileDialog::getExistingDirectory(parent, caption, dir);
}

void PanelFileDialog::setOpenFolder(OpenFolder open_folder) { openFolder() = std::move(open_folder); }
