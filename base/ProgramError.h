#pragma once
// Base of every error the program raises on purpose: an exception that carries a
// message text meant for the operator.

#include <QByteArray>
#include <QString>
#include <exception>

class EProgramError : public std::exception {
public:
    explicit EProgramError(QString message)
        : message_(std::move(message)), utf8_(message_.toUtf8()) {}
    const QString& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return utf8_.constData(); }

private:
    QString message_;
    QByteArray utf8_;
};

// The message text an exception carries (EProgramError, std::exception or unknown).
QString ExceptionMessage(std::exception_ptr error);
