#pragma once
// The small control classes the windows are built from. Each publishes the properties
// the stored settings and the device runs address by name.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QWidget>

// A panel with a raised outer and a lowered inner bevel: a double frame.
class TPanel : public QWidget {
    Q_OBJECT
public:
    explicit TPanel(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

class TCheckBox : public QCheckBox {
    Q_OBJECT
    Q_PROPERTY(bool Checked READ Checked WRITE SetChecked)
public:
    explicit TCheckBox(QWidget* parent = nullptr) : QCheckBox(parent) {}
    bool Checked() const { return isChecked(); }
    void SetChecked(bool value) { setChecked(value); }
};

// A pick-only list that keeps an integer of the program's own in Tag (the user's last
// choice of port).
class TComboBox : public QComboBox {
    Q_OBJECT
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)
    Q_PROPERTY(int ItemIndex READ ItemIndex WRITE SetItemIndex)
public:
    explicit TComboBox(QWidget* parent = nullptr) : QComboBox(parent) {}
    int Tag() const { return tag_; }
    void SetTag(int value) { tag_ = value; }
    int ItemIndex() const { return currentIndex(); }
    // An index outside the items selects nothing (-1).
    void SetItemIndex(int index) { setCurrentIndex(index >= 0 && index < count() ? index : -1); }

private:
    int tag_ = 0;
};

// A borderless caption that fits its width to its text.
class TStaticText : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ text WRITE SetCaption)
public:
    explicit TStaticText(QWidget* parent = nullptr);
    void SetCaption(const QString& caption);
};

// A bar drawn in segments. Position may run past Max (a read counting 128 steps
// against the range a shorter write left): the bar then shows full. A range of zero
// width shows an empty bar rather than the toolkit's busy indicator. Set it through
// SetMin/SetMax/SetPosition, not the toolkit's setters.
class TProgressBar : public QProgressBar {
    Q_OBJECT
    Q_PROPERTY(int Min READ Min WRITE SetMin)
    Q_PROPERTY(int Max READ Max WRITE SetMax)
    Q_PROPERTY(int Position READ Position WRITE SetPosition)
public:
    explicit TProgressBar(QWidget* parent = nullptr);
    int Min() const { return min_; }
    int Max() const { return max_; }
    int Position() const { return position_; }
    void SetMin(int value);
    void SetMax(int value);
    void SetPosition(int value);

protected:
    bool event(QEvent* event) override;

private:
    void Apply();
    int min_ = 0;
    int max_ = 100;
    int position_ = 0;
};
