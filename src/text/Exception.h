#pragma once

#include <QString>

#include <stdexcept>

// Root of every error the program raises, so a caller can catch the whole family
// (HTTP, XML, list errors) in one place. what() is the UTF-8 form of Message().
class EBrimlarkError : public std::runtime_error {
public:
    explicit EBrimlarkError(const QString& message)
        : std::runtime_error(message.toStdString()), m_message(message) {}

    QString Message() const { return m_message; }

private:
    QString m_message;
};
