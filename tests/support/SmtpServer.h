#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace clarow::test {

// One message as the test SMTP server received it.
struct ReceivedMail
{
    QString mailFrom;
    QStringList recipients; // the envelope's RCPT TO addresses
    bool authenticated = false;
    bool tls = false;       // the message came over an encrypted connection
    QString subject;        // decoded
    QString body;           // decoded text, line ends as sent (CR LF)
    QString raw;            // the message data as it came over the wire
    QList<QPair<QString, QString>> headers;

    // The value of the first header of that name ("" when absent), and how many there are.
    [[nodiscard]] QString header(const QString &name) const;
    [[nodiscard]] int headerCount(const QString &name) const;
};

// A real SMTP server (aiosmtpd under /usr/bin/python3) on 127.0.0.1 for the length of a
// test. With a user name it offers AUTH LOGIN and requires it. Without TLS it offers no
// encryption at all; with StartTls it offers STARTTLS, with Implicit it speaks TLS from the
// first byte, with a certificate for 127.0.0.1 signed by a test authority (caFile).
class SmtpServer
{
public:
    enum class Tls { None, StartTls, Implicit };

    explicit SmtpServer(const QString &user = {}, const QString &password = {});
    explicit SmtpServer(Tls tls, const QString &user = {}, const QString &password = {});
    ~SmtpServer();
    SmtpServer(const SmtpServer &) = delete;
    SmtpServer &operator=(const SmtpServer &) = delete;

    [[nodiscard]] bool running() const { return m_process.state() == QProcess::Running && m_port > 0; }
    [[nodiscard]] int port() const { return m_port; }
    // Stops the server; the port stays free for a restart.
    void stop();
    // Starts it again on the same port (or a free one the first time). True when listening.
    bool start();
    // Makes the server misbehave from its next command on: "auth-535", "rcpt-550" or
    // "drop-after-data" (see smtp_server.py); an empty text makes it behave again.
    void setFault(const QString &fault);
    // Every message received so far, oldest first.
    [[nodiscard]] QList<ReceivedMail> mails() const;
    // What the server wrote to standard error so far.
    [[nodiscard]] QString errors();
    // The test authority that signed the server's certificate (a PEM file), with TLS.
    [[nodiscard]] QString caFile() const;

private:
    Tls m_tls = Tls::None;
    QString m_user;
    QString m_password;
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
};

} // namespace clarow::test
