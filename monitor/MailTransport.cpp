#include "monitor/MailTransport.h"

#include "core/Errors.h"
#include "core/Helpers.h"
#include "core/Logging.h"
#include "core/Program.h"
#include "link/Clock.h"

#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>
#include <QUuid>

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

namespace clarow {

namespace {

// Everything one transfer needs, owned by the worker thread while it runs.
struct Transfer
{
    QByteArray url;
    long useSsl = CURLUSESSL_TRY;
    QString noEncryptionReason; // why a server without STARTTLS gets nothing
    QByteArray caFile;
    bool auth = false;
    QByteArray user;
    QByteArray password;
    QByteArray from;
    QList<QByteArray> recipients;
    QByteArray payload;
    qsizetype sent = 0;
    QByteArray lastReply;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    MailResult result;
    std::atomic<bool> abort{false};
};

// Ends a transfer early when the program is closing down.
int CheckAbort(void *userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<Transfer *>(userData)->abort.load() ? 1 : 0;
}

size_t ReadPayload(char *buffer, size_t size, size_t count, void *userData)
{
    auto *t = static_cast<Transfer *>(userData);
    const qsizetype room = static_cast<qsizetype>(size * count);
    const qsizetype n = qMin(room, t->payload.size() - t->sent);
    if (n <= 0)
        return 0;
    memcpy(buffer, t->payload.constData() + t->sent, static_cast<size_t>(n));
    t->sent += n;
    return static_cast<size_t>(n);
}

// Keeps the server's last reply line, the most useful clue when an exchange fails.
int WatchExchange(CURL *, curl_infotype type, char *data, size_t size, void *userData)
{
    if (type != CURLINFO_HEADER_IN)
        return 0;
    auto *t = static_cast<Transfer *>(userData);
    const QList<QByteArray> lines = QByteArray(data, static_cast<qsizetype>(size)).split('\n');
    for (const QByteArray &line : lines) {
        const QByteArray trimmed = line.trimmed();
        if (!trimmed.isEmpty())
            t->lastReply = trimmed;
    }
    return 0;
}

void RunTransfer(Transfer &t)
{
    CURL *curl = curl_easy_init();
    if (!curl) {
        t.result = {false, kErrMailExchange, QStringLiteral("The message could not be sent through the mail server."),
                    {}, QStringLiteral("The transfer library could not start.")};
        return;
    }
    curl_slist *rcpt = nullptr;
    for (const QByteArray &r : t.recipients)
        rcpt = curl_slist_append(rcpt, r.constData());

    curl_easy_setopt(curl, CURLOPT_URL, t.url.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(curl, CURLOPT_USE_SSL, t.useSsl);
    // The certificate checks stay libcurl's: the server's name and its chain are verified.
    if (!t.caFile.isEmpty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, t.caFile.constData());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 20L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
    if (t.auth) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, t.user.constData());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, t.password.constData());
        curl_easy_setopt(curl, CURLOPT_LOGIN_OPTIONS, "AUTH=LOGIN");
    }
    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, t.from.constData());
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, rcpt);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, &ReadPayload);
    curl_easy_setopt(curl, CURLOPT_READDATA, &t);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(t.payload.size()));
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, t.errorBuffer);
    curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, &WatchExchange);
    curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &t);
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &CheckAbort);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);

    const CURLcode code = curl_easy_perform(curl);
    curl_slist_free_all(rcpt);
    curl_easy_cleanup(curl);

    if (code == CURLE_OK) {
        t.result.ok = true;
        return;
    }
    QString libraryError = QString::fromUtf8(t.errorBuffer).trimmed();
    if (libraryError.isEmpty())
        libraryError = QString::fromUtf8(curl_easy_strerror(code));
    if (code == CURLE_USE_SSL_FAILED && !t.noEncryptionReason.isEmpty())
        libraryError = t.noEncryptionReason;
    t.result = {false, kErrMailExchange, QStringLiteral("The message could not be sent through the mail server."),
                QString::fromUtf8(t.lastReply), libraryError};
}

QByteArray HeaderAddressList(const QStringList &addresses)
{
    QStringList safe;
    for (const QString &a : addresses)
        safe << HeaderSafe(a);
    return safe.join(QStringLiteral(", ")).toUtf8();
}

bool IsPlainHeaderText(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return false;
    }
    return text.size() <= 900;
}

// A subject with letters beyond ASCII goes out as encoded words of at most 75 characters,
// each on its own folded line.
QByteArray SubjectHeader(const QString &subject)
{
    const QString safe = HeaderSafe(subject);
    if (IsPlainHeaderText(safe))
        return safe.toUtf8();
    QList<QByteArray> words;
    QByteArray chunk;
    for (qsizetype i = 0; i < safe.size();) {
        const qsizetype len = (safe.at(i).isHighSurrogate() && i + 1 < safe.size()) ? 2 : 1;
        const QByteArray bytes = safe.mid(i, len).toUtf8();
        if (chunk.size() + bytes.size() > 45) {
            words << chunk;
            chunk.clear();
        }
        chunk += bytes;
        i += len;
    }
    if (!chunk.isEmpty())
        words << chunk;
    QByteArray out;
    for (const QByteArray &w : words) {
        if (!out.isEmpty())
            out += "\r\n ";
        out += "=?UTF-8?B?" + w.toBase64() + "?=";
    }
    return out;
}

QByteArray MessageIdDomain(const QString &from)
{
    const QString address = EnvelopeAddress(from);
    const qsizetype at = address.lastIndexOf(QLatin1Char('@'));
    QString domain = at >= 0 ? address.mid(at + 1) : QString();
    domain.remove(QRegularExpression(QStringLiteral("[^A-Za-z0-9.-]")));
    return domain.isEmpty() ? QByteArrayLiteral("clarow.invalid") : domain.toLatin1();
}

bool IsControl(QChar c)
{
    return c.unicode() < 0x20 || c.unicode() == 0x7f || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
}

// Why a server that offers no STARTTLS was not sent to, by the choice that required it.
QString NoEncryptionReason(MailSecurity security)
{
    if (security == MailSecurity::StartTls)
        return QStringLiteral("The server offers no encryption (no STARTTLS), which the connection security "
                              "STARTTLS requires; nothing was sent.");
    return QStringLiteral("The server offers no encryption (no STARTTLS); nothing was sent, so that the password "
                          "does not travel in clear. Only if the network to the server is trusted, set the "
                          "connection security to None.");
}

MailResult Refused(const QString &reason)
{
    return {false, kErrMailExchange, QStringLiteral("The message could not be sent through the mail server."), {},
            reason};
}

} // namespace

QString MailSecurityText(MailSecurity security)
{
    switch (security) {
    case MailSecurity::StartTls:
        return QStringLiteral("STARTTLS");
    case MailSecurity::Tls:
        return QStringLiteral("TLS");
    case MailSecurity::None:
        return QStringLiteral("None");
    case MailSecurity::Auto:
        break;
    }
    return QStringLiteral("Auto");
}

MailSecurity MailSecurityFromText(const QString &text)
{
    for (const MailSecurity m : {MailSecurity::StartTls, MailSecurity::Tls, MailSecurity::None}) {
        if (text.trimmed().compare(MailSecurityText(m), Qt::CaseInsensitive) == 0)
            return m;
    }
    return MailSecurity::Auto;
}

bool IsLoopbackHost(const QString &host)
{
    QString h = host.trimmed();
    if (h.startsWith(QLatin1Char('[')) && h.endsWith(QLatin1Char(']')))
        h = h.mid(1, h.size() - 2);
    if (h.endsWith(QLatin1Char('.')))
        h.chop(1);
    if (h.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    QHostAddress address;
    if (!address.setAddress(h))
        return false;
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (mapped)
        return (v4 >> 24) == 127;
    return address.isLoopback();
}

MailEncryption ChooseEncryption(const QString &host, qint32 port, bool auth, MailSecurity security)
{
    switch (security) {
    case MailSecurity::Tls:
        return MailEncryption::Implicit;
    case MailSecurity::StartTls:
        return MailEncryption::Required;
    case MailSecurity::None:
        return MailEncryption::Off;
    case MailSecurity::Auto:
        break;
    }
    if (port == 465)
        return MailEncryption::Implicit;
    // Without a log-in only the message itself is at stake, and a server that cannot encrypt
    // still gets the alarm; a password goes out in clear only to this computer.
    if (auth && !IsLoopbackHost(host))
        return MailEncryption::Required;
    return MailEncryption::IfOffered;
}

QString EnvelopeAddressProblem(const QString &address)
{
    const QString a = address.trimmed();
    for (const QChar c : a) {
        if (IsControl(c))
            return QStringLiteral("holds a control character");
    }
    if (a.contains(QLatin1Char(',')) || a.contains(QLatin1Char(';')))
        return QStringLiteral("holds \",\" or \";\", which separate addresses");
    QString bare = a;
    const qsizetype open = a.indexOf(QLatin1Char('<'));
    if (open >= 0 && a.endsWith(QLatin1Char('>'))) {
        const QString name = a.left(open);
        if (name.contains(QLatin1Char('>')))
            return QStringLiteral("holds \"<\" or \">\"");
        if (name.contains(QLatin1Char('@')))
            return QStringLiteral("has a name with \"@\" before \"<\", which reads as a second address");
        bare = a.mid(open + 1, a.size() - open - 2).trimmed();
    }
    if (bare.isEmpty())
        return QStringLiteral("is empty");
    if (std::any_of(bare.cbegin(), bare.cend(), [](QChar c) { return c.isSpace(); }))
        return QStringLiteral("holds a blank");
    if (bare.contains(QLatin1Char('<')) || bare.contains(QLatin1Char('>')))
        return QStringLiteral("holds \"<\" or \">\"");
    return {};
}

CheckedAddresses CheckAddressList(const QString &list)
{
    CheckedAddresses out;
    for (const QString &part : list.split(QRegularExpression(QStringLiteral("[,;]")))) {
        const QString a = part.trimmed();
        if (a.isEmpty())
            continue;
        const QString problem = EnvelopeAddressProblem(a);
        if (problem.isEmpty())
            out.usable << a;
        else
            out.refused << QLatin1Char('"') + a + QStringLiteral("\" ") + problem;
    }
    return out;
}

QString HeaderSafe(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text)
        out += (c.unicode() < 0x20 || c.unicode() == 0x7f || c == QChar::LineSeparator
                || c == QChar::ParagraphSeparator)
                   ? QLatin1Char(' ')
                   : c;
    return out.trimmed();
}

QStringList SplitAddresses(const QString &list)
{
    QStringList out;
    for (const QString &part : list.split(QRegularExpression(QStringLiteral("[,;]")))) {
        const QString a = HeaderSafe(part);
        if (!a.isEmpty())
            out << a;
    }
    return out;
}

QString EnvelopeAddress(const QString &address)
{
    const QString safe = HeaderSafe(address);
    const qsizetype open = safe.lastIndexOf(QLatin1Char('<'));
    const qsizetype close = safe.lastIndexOf(QLatin1Char('>'));
    if (open >= 0 && close > open)
        return safe.mid(open + 1, close - open - 1).trimmed();
    return safe;
}

QByteArray QuotedPrintable(const QString &text)
{
    QString normal = text;
    normal.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    normal.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QList<QByteArray> lines = normal.toUtf8().split('\n');
    QByteArray out;
    for (qsizetype li = 0; li < lines.size(); ++li) {
        const QByteArray &line = lines.at(li);
        int column = 0;
        for (qsizetype i = 0; i < line.size(); ++i) {
            const auto b = static_cast<unsigned char>(line.at(i));
            const bool last = i == line.size() - 1;
            QByteArray piece;
            if ((b >= 33 && b <= 126 && b != '=') || ((b == ' ' || b == '\t') && !last))
                piece = QByteArray(1, static_cast<char>(b));
            else
                piece = '=' + QByteArray::number(b, 16).toUpper().rightJustified(2, '0');
            if (column + piece.size() > 75) {
                out += "=\r\n";
                column = 0;
            }
            out += piece;
            column += static_cast<int>(piece.size());
        }
        if (li + 1 < lines.size())
            out += "\r\n";
    }
    return out;
}

QByteArray MimeMessage(const MailMessage &message, const QDateTime &date)
{
    const QByteArray from = HeaderSafe(message.from).toUtf8();
    QByteArray out;
    out += "Date: " + date.toString(Qt::RFC2822Date).toLatin1() + "\r\n";
    out += "From: " + from + "\r\n";
    out += "Reply-To: " + from + "\r\n";
    out += "To: " + HeaderAddressList(SplitAddresses(message.recipients)) + "\r\n";
    out += "Subject: " + SubjectHeader(message.subject) + "\r\n";
    out += "Message-ID: <" + QUuid::createUuid().toString(QUuid::WithoutBraces).toLatin1() + '@'
           + MessageIdDomain(message.from) + ">\r\n";
    out += "MIME-Version: 1.0\r\n";
    out += "Content-Type: text/plain; charset=UTF-8\r\n";
    out += "Content-Transfer-Encoding: quoted-printable\r\n";
    out += "\r\n";
    out += QuotedPrintable(message.body);
    if (!out.endsWith("\r\n"))
        out += "\r\n";
    return out;
}

MailResult CurlMailTransport::send(const MailServerSettings &server, const MailMessage &message)
{
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    Q_UNUSED(initialised);

    // An address with a blank or a bracket could carry a second address or an envelope
    // parameter (NOTIFY=NEVER) to the server: such a message does not go out at all.
    if (const QString problem = EnvelopeAddressProblem(message.from); !problem.isEmpty())
        return Refused(QStringLiteral("The from address \"") + message.from.trimmed() + QStringLiteral("\" ")
                       + problem + QLatin1Char('.'));
    const CheckedAddresses to = CheckAddressList(message.recipients);
    if (!to.refused.isEmpty())
        return Refused(QStringLiteral("The to address ") + to.refused.first() + QLatin1Char('.'));

    auto t = std::make_shared<Transfer>();
    QString host = server.server.trimmed();
    const MailEncryption encryption = ChooseEncryption(host, server.port, server.auth, server.security);
    if (host.contains(QLatin1Char(':')) && !host.startsWith(QLatin1Char('[')))
        host = QLatin1Char('[') + host + QLatin1Char(']');
    const QString scheme =
        encryption == MailEncryption::Implicit ? QStringLiteral("smtps://") : QStringLiteral("smtp://");
    t->url = (scheme + host + QLatin1Char(':') + QString::number(server.port)).toUtf8();
    switch (encryption) {
    case MailEncryption::Implicit:
    case MailEncryption::Required:
        t->useSsl = CURLUSESSL_ALL;
        break;
    case MailEncryption::IfOffered:
        t->useSsl = CURLUSESSL_TRY;
        break;
    case MailEncryption::Off:
        t->useSsl = CURLUSESSL_NONE;
        break;
    }
    t->noEncryptionReason = NoEncryptionReason(server.security);
    t->caFile = QFile::encodeName(m_caFile);
    t->auth = server.auth;
    t->user = server.user.toUtf8();
    t->password = server.password.toUtf8();
    t->from = '<' + EnvelopeAddress(message.from).toUtf8() + '>';
    for (const QString &r : SplitAddresses(message.recipients))
        t->recipients << '<' + EnvelopeAddress(r).toUtf8() + '>';
    t->payload = MimeMessage(message, Now());
    if (t->recipients.isEmpty())
        return {false, kErrMailExchange, QStringLiteral("The message could not be sent through the mail server."),
                {}, QStringLiteral("No recipient address.")};

    // The exchange can take many seconds; the worker does it while this thread keeps the
    // windows alive.
    qCDebug(lcMail, "sending to %d recipient(s) through %s (%s)", int(t->recipients.size()), t->url.constData(),
            qUtf8Printable(MailSecurityText(server.security)));
    RunWhileWaiting([t] { RunTransfer(*t); }, t->abort, 0.05);
    if (t->result.ok)
        qCDebug(lcMail, "sent");
    else
        qCDebug(lcMail, "not sent: %s %s", qUtf8Printable(t->result.libraryError), qUtf8Printable(t->result.serverReply));
    return t->result;
}

MailTransport &defaultMailTransport()
{
    static CurlMailTransport transport;
    return transport;
}

} // namespace clarow
