#pragma once
// The file-open and file-save dialogs as components of a window: design-time settings as
// properties, Execute() runs the dialog modal to the whole application and leaves the
// chosen path in FileName.

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

class QFileDialog;

class TFileDialog : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString FileName READ FileName WRITE SetFileName)
    Q_PROPERTY(QString InitialDir READ InitialDir WRITE SetInitialDir)
    Q_PROPERTY(QString Filter READ Filter WRITE SetFilter)
    Q_PROPERTY(QString DefaultExt READ DefaultExt WRITE SetDefaultExt)
public:
    QString FileName() const { return fileName_; }
    void SetFileName(const QString& value) { fileName_ = value; }
    QString InitialDir() const { return initialDir_; }
    void SetInitialDir(const QString& value) { initialDir_ = value; }
    // "description|pattern|description|pattern..."
    QString Filter() const { return filter_; }
    void SetFilter(const QString& value) { filter_ = value; }
    // Appended (after a ".") to a chosen name that has no extension; empty for none.
    QString DefaultExt() const { return defaultExt_; }
    void SetDefaultExt(const QString& value) { defaultExt_ = value; }

    // True when a file was chosen; it is then in FileName. A cancel changes nothing.
    bool Execute();

    // The dialog's filter in the toolkit's form: "*.bin|*.bin" -> "*.bin".
    QStringList NameFilters() const;

    // Test seam: answers every Execute() instead of a dialog; nullopt means cancel.
    // An empty function restores the real dialogs.
    using TAnswer = std::function<std::optional<QString>(const TFileDialog& dialog)>;
    static void SetAnswer(TAnswer answer);
    // The platform's own dialogs, or the toolkit's (for runs without a desktop theme).
    static void SetUseNativeDialogs(bool use);

protected:
    explicit TFileDialog(QObject* parent) : QObject(parent) {}
    virtual void Configure(QFileDialog& dialog) const = 0;

private:
    QString WithDefaultExt(const QString& path) const;

    QString fileName_;
    QString initialDir_;
    QString filter_;
    QString defaultExt_;
};

class TOpenDialog : public TFileDialog {
    Q_OBJECT
public:
    explicit TOpenDialog(QObject* parent = nullptr) : TFileDialog(parent) {}

protected:
    void Configure(QFileDialog& dialog) const override;
};

class TSaveDialog : public TFileDialog {
    Q_OBJECT
public:
    explicit TSaveDialog(QObject* parent = nullptr) : TFileDialog(parent) {}

protected:
    void Configure(QFileDialog& dialog) const override;
};
