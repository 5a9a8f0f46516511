#include "ui/file_chooser.h"

#include <QDir>
#include <QFileDialog>

namespace velquist::ui {

namespace {

FileChooser& CurrentChooser() {
    static FileChooser chooser;
    return chooser;
}

QString AskWithDialog(QWidget* parent, const FileRequest& request) {
    if (request.save)
        return QFileDialog::getSaveFileName(parent, request.caption,
                                            QDir(request.folder).filePath(request.defaultName),
                                            request.filter);
    return QFileDialog::getOpenFileName(parent, request.caption, request.folder, request.filter);
}

}  // namespace

QString ChooseFile(QWidget* parent, const FileRequest& request) {
    const FileChooser& chooser = CurrentChooser();
    return chooser ? chooser(request) : AskWithDialog(parent, request);
}

void SetFileChooser(FileChooser chooser) { CurrentChooser() = std::move(chooser); }

}  // namespace velquist::ui
