#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

namespace clarow {

// Where and how to reach the SMTP server.
struct MailServerSettings
{
    QString server;
    qint32 port = 25;
    bool auth = false; // log in with AUTH LOGIN
    QString user;
    QString password;
};

// One plain-text message. The texts come from the settings as the user typed them; the
// transport makes them safe for the headers.
struct MailMessage
{
    QString from;       // the sender address (From and Reply-To)
    QString recipients; // one or more addresses separated by "," or ";"
    QString subject;
    QString body;       // lines ended by CR LF
};

// The outcome of one send. A failed exchange with the server carries the error number of
// the mail exchange, a description, the server's last reply line (empty when it said
// nothing) and the transfer library's error text.
struct MailResult
{
    bool ok = false;
    int number = 0;
    QString description;
    QString serverReply;
    QString libraryError;
};

class MailTransport
{
public:
    virtual ~MailTransport() = default;
    // Connects, sends the message and disconnects. Blocks the caller until done but keeps
    // the windows repainting.
    virtual MailResult send(const MailServerSettings &server, const MailMessage &message) = 0;
};

// SMTP through libcurl: smtp://server:port, port 465 as smtps:// (TLS from the start),
// otherwise STARTTLS when the server offers it. The transfer runs on a worker thread while
// the calling thread waits with Pause, so the windows keep repainting.
class CurlMailTransport final : public MailTransport
{
public:
    MailResult send(const MailServerSettings &server, const MailMessage &message) override;
};

// The transport the program uses.
MailTransport &defaultMailTransport();

// --- Pieces of the message, kept apart so that they can be checked without a server ---

// A header text with every line break and other control character replaced by a blank,
// so that a setting can never start a header of its own.
[[nodiscard]] QString HeaderSafe(const QString &text);
// The addresses of a "," or ";" separated list, trimmed, empty entries dropped.
[[nodiscard]] QStringList SplitAddresses(const QString &list);
// The bare address for the SMTP envelope: the part inside "<...>" when present.
[[nodiscard]] QString EnvelopeAddress(const QString &address);
// The whole message as sent: headers (Date, From, Reply-To, To, Subject, Message-ID, MIME)
// and the body as UTF-8 quoted-printable text.
[[nodiscard]] QByteArray MimeMessage(const MailMessage &message, const QDateTime &date);
// Quoted-printable form of UTF-8 text whose lines end with CR LF.
[[nodiscard]] QByteArray QuotedPrintable(const QString &text);

} // namespace clarow
