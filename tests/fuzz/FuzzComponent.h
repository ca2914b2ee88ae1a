#pragma once
// A component with one published property of every kind the property storage converts,
// plus two whose setters reach outside the component (renaming it, destroying a
// sibling), as a window's own setters may.

#include <QChar>
#include <QObject>
#include <QString>

class TFuzzComponent : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool Checked MEMBER checked_)
    Q_PROPERTY(int Tag MEMBER tag_)
    Q_PROPERTY(QString FileName MEMBER fileName_)
    Q_PROPERTY(qlonglong Big MEMBER big_)
    Q_PROPERTY(double Ratio MEMBER ratio_)
    Q_PROPERTY(QChar Letter MEMBER letter_)
    Q_PROPERTY(TMode Mode MEMBER mode_)
    Q_PROPERTY(QString Name READ objectName WRITE setObjectName)
    Q_PROPERTY(int Victim READ victim WRITE destroySibling)

public:
    enum TMode { mdLow = -3, mdOff = 0, mdAlias = 0, mdOn = 1, mdHigh = 1000 };
    Q_ENUM(TMode)

    explicit TFuzzComponent(QObject* parent) : QObject(parent) {}

    int victim() const { return 0; }
    // Destroys the parent's child at that index, never this component itself.
    void destroySibling(int index) {
        if (!parent() || index < 0 || index >= parent()->children().size())
            return;
        QObject* victim = parent()->children().at(index);
        if (victim != this)
            delete victim;
    }

private:
    bool checked_ = false;
    int tag_ = 0;
    QString fileName_;
    qlonglong big_ = 0;
    double ratio_ = 0.5;
    QChar letter_ = u'x';
    TMode mode_ = mdOff;
};
