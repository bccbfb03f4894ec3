#pragma once

#include <QString>

#include <stdexcept>

namespace clarow {

// An error as the program reports it: a number and a description. The diagnostic log and
// the message boxes show both.
class ClarowError : public std::runtime_error
{
public:
    ClarowError(int number, const QString &description)
        : std::runtime_error(description.toStdString()), m_number(number), m_description(description)
    {
    }
    [[nodiscard]] int number() const { return m_number; }
    [[nodiscard]] const QString &description() const { return m_description; }

private:
    int m_number;
    QString m_description;
};

// Error numbers the program raises itself.
inline constexpr int kErrDatabase = 3146;    // a database statement failed
inline constexpr int kErrFileNotFound = 53;  // a file that must be there is missing
inline constexpr int kErrTypeMismatch = 13;  // text where a number was expected
inline constexpr int kErrOverflow = 6;       // a number too large for its type
inline constexpr int kErrMailExchange = -2147220986; // a failed exchange with the mail server

} // namespace clarow
