#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <utility>

namespace clarow {

// How the connection to the mail server is protected (setting MailSecurity).
enum class MailSecurity
{
    Auto,     // TLS from the start on port 465, else STARTTLS when offered; a password only encrypted
    StartTls, // STARTTLS, required
    Tls,      // TLS from the start (smtps), on any port
    None,     // no encryption at all, the user's explicit choice
};

// The stored text of a choice ("Auto", "STARTTLS", "TLS", "None") and back. Letter case does
// not matter; an unknown text is Auto, the choice that never sends a password in clear.
[[nodiscard]] QString MailSecurityText(MailSecurity security);
[[nodiscard]] MailSecurity MailSecurityFromText(const QString &text);

// What one connection does about encryption.
enum class MailEncryption
{
    Implicit,  // smtps: TLS from the first byte
    Required,  // STARTTLS; a server that does not offer it gets nothing
    IfOffered, // STARTTLS when the server offers it, else in clear
    Off,       // in clear
};

// The encryption for a server. Auto logs in only over an encrypted line unless the server is
// on this computer (the loopback interface), where nothing travels over a network.
[[nodiscard]] MailEncryption ChooseEncryption(const QString &host, qint32 port, bool auth, MailSecurity security);
// The host is this computer's loopback interface (localhost, 127.0.0.0/8, ::1). No name lookup.
[[nodiscard]] bool IsLoopbackHost(const QString &host);

// Where and how to reach the SMTP server.
struct MailServerSettings
{
    QString server;
    qint32 port = 25;
    bool auth = false; // log in with AUTH LOGIN
    QString user;
    QString password;
    MailSecurity security = MailSecurity::Auto;
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

// SMTP through libcurl: smtp://server:port, or smtps:// when TLS starts with the connection
// (ChooseEncryption). The server's certificate is always verified, against the system's
// certificate authorities or, when caFile is given, against the ones in that file only (the
// tests' own authority). A message whose envelope addresses do not pass EnvelopeAddressProblem
// is not sent. The transfer runs on a worker thread while the calling thread waits with Pause,
// so the windows keep repainting.
class CurlMailTransport final : public MailTransport
{
public:
    explicit CurlMailTransport(QString caFile = {}) : m_caFile(std::move(caFile)) {}
    MailResult send(const MailServerSettings &server, const MailMessage &message) override;

private:
    QString m_caFile;
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
// Why one address ("ops@example.com" or "Plant Room <ops@example.com>") cannot go into the SMTP
// envelope, or an empty text when it can. The bare address may hold no blank, "<", ">", ","
// or ";" and no control character, so that it can never carry a second address or an
// envelope parameter; a name before "<...>" may hold no "@" (it would read as a second address).
[[nodiscard]] QString EnvelopeAddressProblem(const QString &address);
// The addresses of a "," or ";" separated list that can be used, and for each one that
// cannot, its refusal naming it: "\"a b@example.com\" holds a blank".
struct CheckedAddresses
{
    QStringList usable;
    QStringList refused;
};
[[nodiscard]] CheckedAddresses CheckAddressList(const QString &list);
// The whole message as sent: headers (Date, From, Reply-To, To, Subject, Message-ID, MIME)
// and the body as UTF-8 quoted-printable text.
[[nodiscard]] QByteArray MimeMessage(const MailMessage &message, const QDateTime &date);
// Quoted-printable form of UTF-8 text whose lines end with CR LF.
[[nodiscard]] QByteArray QuotedPrintable(const QString &text);

} // namespace clarow
