#include "ui/FileDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>

namespace {
TFileDialog::TAnswer& Answer() {
    static TFileDialog::TAnswer answer;
    return answer;
}
bool& UseNative() {
    static bool use = true;
    return use;
}
} // namespace

void TFileDialog::SetAnswer(TAnswer answer) {
    Answer() = std::move(answer);
}

void TFileDialog::SetUseNativeDialogs(bool use) {
    UseNative() = use;
}

QStringList TFileDialog::NameFilters() const {
    QStringList filters;
    const QStringList parts = filter_.split(u'|');
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        const QString& pattern = parts[i + 1];
        filters << (description == pattern ? pattern
                                           : QStringLiteral("%1 (%2)").arg(description, pattern));
    }
    return filters;
}

QString TFileDialog::WithDefaultExt(const QString& path) const {
    if (defaultExt_.isEmpty() || path.isEmpty() || !QFileInfo(path).suffix().isEmpty())
        return path;
    return path + u'.' + defaultExt_;
}

bool TFileDialog::Execute() {
    std::optional<QString> chosen;
    if (Answer()) {
        chosen = Answer()(*this);
    } else {
        QFileDialog dialog(QApplication::activeWindow());
        dialog.setWindowModality(Qt::ApplicationModal);
        dialog.setOption(QFileDialog::DontUseNativeDialog, !UseNative());
        dialog.setNameFilters(NameFilters());
        if (!initialDir_.isEmpty())
            dialog.setDirectory(initialDir_);
        if (!fileName_.isEmpty())
            dialog.selectFile(fileName_);
        Configure(dialog);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            chosen = dialog.selectedFiles().constFirst();
    }
    if (!chosen || chosen->isEmpty())
        return false;
    fileName_ = WithDefaultExt(*chosen);
    return true;
}

void TOpenDialog::Configure(QFileDialog& dialog) const {
    // The name typed need not exist; loading it then reports the failure.
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
}

void TSaveDialog::Configure(QFileDialog& dialog) const {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setDefaultSuffix(DefaultExt());
}
