#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace velquist::ui {

// What the window asks of a file dialog: a file to open or a name to save under.
struct FileRequest {
    bool save = false;
    QString caption;
    QString folder;       // where the dialog starts
    QString defaultName;  // save only: the name it suggests
    QString filter;       // e.g. "文件格式 (*.xlsx *.xls *.txt *.csv)"
};

// The chosen path, or an empty text when the user cancelled.
using FileChooser = std::function<QString(const FileRequest& request)>;

// Asks through the current chooser: QFileDialog unless a test replaced it.
QString ChooseFile(QWidget* parent, const FileRequest& request);
// An empty function puts QFileDialog back.
void SetFileChooser(FileChooser chooser);

}  // namespace velquist::ui
