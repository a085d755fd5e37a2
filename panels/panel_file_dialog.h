// The file dialogs the panels open. Tests replace them with a function that answers at once, so
// that a browse button can be pressed without a real dialog.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

class PanelFileDialog {
public:
    // Same arguments as the toolkit's static dialogs: parent, caption, folder or proposed name,
    // filter. A cancelled dialog answers an empty list or an empty name.
    using OpenFiles = std::function<QStringList(QWidget*, const QString&, const QString&, const QString&)>;
    using SaveFile = std::function<QString(QWidget*, const QString&, const QString&, const QString&)>;
    // Parent, caption, starting folder; a cancelled dialog answers an empty name.
    using OpenFolder = std::function<QString(QWidget*, const QString&, const QString&)>;

    static QStringList getOpenFileNames(QWidget* parent, const QString& caption, const QString& dir,
                                        const QString& filter);
    static QString getSaveFileName(QWidget* parent, const QString& caption, const QString& dir,
                                   const QString& filter);

    static QString getExistingDirectory(QWidget* parent, const QString& caption, const QString& dir);

    // An empty function brings the real dialog back.
    static void setOpenFiles(OpenFiles open_files);
    static void setSaveFile(SaveFile save_file);
    static void setOpenFolder(OpenFolder open_folder);
};
