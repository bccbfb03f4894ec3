#include "monitor/AlarmMail.h"

#include "core/Database.h"
#include "core/DiagnosticLog.h"
#include "core/Errors.h"
#include "core/Helpers.h"
#include "core/Program.h"
#include "link/Clock.h"
#include "link/TypeCodes.h"
#include "monitor/MailTransport.h"
#include "monitor/Metrics.h"

#include <QLocale>
#include <QSqlError>
#include <QSqlQuery>

namespace clarow {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

QString Line(const QString &label, int width, const QString &value = {})
{
    return label.leftJustified(width) + value + kCrLf;
}

QString Text(const std::optional<float> &v) { return v ? SingleText(*v) : QString(); }

bool Above(const std::optional<float> &value, const std::optional<float> &limit)
{
    return value && limit && *value > *limit;
}

bool Below(const std::optional<float> &value, const std::optional<float> &limit)
{
    return value && limit && *value < *limit;
}

QString ChannelLines(const MailRow &row, const MailLabels &l)
{
    QString out = Line(QLatin1String(l.current), l.currentWidth, Text(row.cCh2));
    if (Above(row.cCh2, row.aCh2Hi))
        out += Line(QLatin1String(l.high), l.highWidth, Text(row.aCh2Hi));
    if (Below(row.cCh2, row.aCh2Lo))
        out += Line(QLatin1String(l.low), l.lowWidth, Text(row.aCh2Lo));
    return out;
}

QString WaterLine(const std::optional<int> &status)
{
    if (!status)
        return {};
    const QString label = QStringLiteral("Water sensor status:").leftJustified(27);
    switch (*status) {
    case 0:
        return label + QStringLiteral("Dry - no water detected.") + kCrLf;
    case 1:
        return label + QStringLiteral("Sensor tape damaged or disconnected.") + kCrLf;
    case 2:
        return label + QStringLiteral("Wet - water detected.") + kCrLf;
    default:
        return {};
    }
}

QString SecondChannelLines(const MailRow &row, bool alarmPass)
{
    const SensorKind &kind = KindOf(row.sensorId);
    QString out;
    if (kind.hasCh2)
        out += ChannelLines(row, alarmPass ? kind.alarmMail : kind.returnMail);
    if (kind.hasWater)
        out += WaterLine(row.wStatus);
    return out;
}

QString SubjectFor(const QString &base, const Settings &s)
{
    return s.MailSubjectAddLocation ? base + QStringLiteral(" - ") + s.LocationName : base;
}

bool IsTrue(const std::optional<bool> &v) { return v && *v; }
bool IsFalse(const std::optional<bool> &v) { return v && !*v; }

[[noreturn]] void ThrowDatabase(const QSqlQuery &q)
{
    throw ClarowError(kErrDatabase, q.lastError().text());
}

QList<MailRow> LoadMailRows()
{
    QSqlQuery q(Db());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT SensorID, Location, InAlarm, Connected, MailSent, AlType, cTmp, "
                               "aTempHi, aTempLo, cCh2, aCh2Hi, aCh2Lo, wStatus, MailedAlType "
                               "FROM Sensors ORDER BY rowid")))
        ThrowDatabase(q);
    QList<MailRow> rows;
    while (q.next()) {
        MailRow r;
        r.sensorId = q.value(0).toString();
        r.location = q.value(1).toString();
        r.inAlarm = Optional<bool>(q.value(2));
        r.connected = Optional<bool>(q.value(3));
        r.mailSent = Optional<bool>(q.value(4));
        r.alType = Optional<int>(q.value(5));
        r.cTmp = Optional<float>(q.value(6));
        r.aTempHi = Optional<float>(q.value(7));
        r.aTempLo = Optional<float>(q.value(8));
        r.cCh2 = Optional<float>(q.value(9));
        r.aCh2Hi = Optional<float>(q.value(10));
        r.aCh2Lo = Optional<float>(q.value(11));
        r.wStatus = Optional<int>(q.value(12));
        r.mailedAlType = Optional<int>(q.value(13));
        rows << r;
    }
    return rows;
}

void Execute(QSqlQuery &q, const QString &id)
{
    q.bindValue(0, id);
    if (!q.exec())
        ThrowDatabase(q);
}

// Written only after the server took the mail, so that a mail that failed lists the same
// sensors again at the next due evaluation instead of losing the alarm.
void MarkMailed(const AlarmMailText &mail)
{
    QSqlDatabase db = Db();
    db.transaction();
    try {
        QSqlQuery alarm(db);
        // A row reset by the operator while the mail was on its way stays reset.
        alarm.prepare(QStringLiteral(
            "UPDATE Sensors SET MailSent = 1, MailedAlType = AlType WHERE SensorID = ? AND InAlarm = 1"));
        for (const QString &id : mail.alarmIds)
            Execute(alarm, id);
        QSqlQuery back(db);
        back.prepare(QStringLiteral("UPDATE Sensors SET MailSent = 0, MailedAlType = NULL WHERE SensorID = ?"));
        for (const QString &id : mail.returnIds)
            Execute(back, id);
        QSqlQuery reconnected(db);
        reconnected.prepare(QStringLiteral("UPDATE Sensors SET AlType = 0 WHERE SensorID = ? AND AlType = 9"));
        for (const QString &id : mail.reconnectedIds)
            Execute(reconnected, id);
    } catch (...) {
        db.rollback();
        throw;
    }
    if (!db.commit())
        throw ClarowError(kErrDatabase, db.lastError().text());
}

bool MailSettingsPresent(const Settings &s)
{
    return !s.MailAddress.trimmed().isEmpty() && !SplitAddresses(s.MailAddress).isEmpty()
           && !s.MailFrom.trimmed().isEmpty() && !s.MailServer.trimmed().isEmpty() && s.MailPort != 0;
}

MailServerSettings ServerSettings(const Settings &s)
{
    MailServerSettings server;
    server.server = s.MailServer;
    server.port = s.MailPort;
    server.auth = s.MailAuth;
    server.security = MailSecurityFromText(s.MailSecurity);
    if (s.MailAuth) {
        server.user = s.MailUser;
        server.password = s.MailPassword;
    }
    return server;
}

void LogIfWanted(const QString &message)
{
    if (program().settings.LogErrors)
        WriteLog(message);
}

// The envelope of a mail by the settings: the recipients it can go to, the refusal of each
// one left out, and why it cannot go out at all (an unusable sender or no usable recipient).
struct Envelope
{
    QString recipients;
    QStringList leftOut;
    QString failure;
};

Envelope CheckEnvelope(const Settings &s)
{
    Envelope e;
    if (const QString problem = EnvelopeAddressProblem(s.MailFrom); !problem.isEmpty()) {
        e.failure = QStringLiteral("The from address \"") + s.MailFrom.trimmed() + QStringLiteral("\" ") + problem
                    + QLatin1Char('.');
        return e;
    }
    const CheckedAddresses to = CheckAddressList(s.MailAddress);
    if (to.usable.isEmpty()) {
        e.failure = QStringLiteral("The to address ") + to.refused.value(0) + QLatin1Char('.');
        return e;
    }
    e.recipients = to.usable.join(QStringLiteral(", "));
    for (const QString &r : to.refused)
        e.leftOut << QStringLiteral("The to address ") + r + QStringLiteral("; it is left out.");
    return e;
}

void LogFailure(const MailResult &r)
{
    LogIfWanted(MailErrorText(r.number, r.description, r.serverReply, r.libraryError));
}

// The alarm mail is retried at every due evaluation, which may be every scan. A failure that
// lasts is logged when it starts and then once an hour while it stays the same; a different
// failure is logged at once, and so is the first mail that goes out again.
constexpr qint64 kRepeatFailureSecs = 3600;

void NoteMailFailure(const QString &text)
{
    Program &p = program();
    const QDateTime now = Now();
    if (p.mailFailure.isEmpty())
        p.mailFailingSince = now;
    if (text != p.mailFailure || !p.mailFailureLogged.isValid()
        || p.mailFailureLogged.secsTo(now) >= kRepeatFailureSecs) {
        LogIfWanted(text);
        p.mailFailureLogged = now;
    }
    p.mailFailure = text;
}

void NoteMailWorks()
{
    Program &p = program();
    if (p.mailFailure.isEmpty())
        return;
    LogIfWanted(QStringLiteral("Alarm mail is working again. It had failed since ")
                + p.mailFailingSince.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) + QStringLiteral("."));
    p.mailFailure.clear();
    p.mailFailureLogged = QDateTime();
}

} // namespace

QString AlarmBlock(const MailRow &row)
{
    QString out = Line(QStringLiteral("Sensor ID:"), 27, row.sensorId);
    out += Line(QStringLiteral("Location:"), 27, row.location);
    if (!IsTrue(row.connected))
        return out + QStringLiteral("Sensor faulty or disconnected.") + kCrLf;
    out += Line(QStringLiteral("Current temperature:"), 27, Text(row.cTmp));
    if (Above(row.cTmp, row.aTempHi))
        out += Line(QStringLiteral("High temperature limit:"), 27, Text(row.aTempHi));
    if (Below(row.cTmp, row.aTempLo))
        out += Line(QStringLiteral("Low temperature limit:"), 27, Text(row.aTempLo));
    return out + SecondChannelLines(row, true);
}

// The alarm being ended was the disconnected one. By the time the mail is written the
// evaluation has already given the answering sensor its new alarm type, so the type the alarm
// mail went out for is what tells.
static bool Reconnected(const MailRow &row) { return row.alType == 9 || row.mailedAlType == 9; }

QString ReturnBlock(const MailRow &row)
{
    QString out = Line(QStringLiteral("Sensor ID:"), 27, row.sensorId);
    out += Line(QStringLiteral("Location:"), 27, row.location);
    if (Reconnected(row))
        out += Line(QString(), 27, QStringLiteral("Reconnected"));
    out += Line(QStringLiteral("Current temperature:"), 27, Text(row.cTmp));
    return out + SecondChannelLines(row, false);
}

AlarmMailText ComposeAlarmMail(const QList<MailRow> &rows, const Settings &s)
{
    AlarmMailText mail;
    for (const MailRow &row : rows) {
        if (!IsTrue(row.inAlarm) || !IsFalse(row.mailSent))
            continue;
        ++mail.alarmCount;
        if (mail.subject.isEmpty())
            mail.subject = SubjectFor(s.MailSubjectA, s);
        if (mail.body.isEmpty())
            mail.body = QStringLiteral("The following sensors are in alarm:") + kCrLf + kCrLf;
        mail.body += AlarmBlock(row) + kCrLf;
        mail.alarmIds << row.sensorId;
    }
    bool headingWritten = false;
    for (const MailRow &row : rows) {
        if (!IsFalse(row.inAlarm) || !IsTrue(row.connected) || !IsTrue(row.mailSent))
            continue;
        ++mail.returnCount;
        if (mail.subject.isEmpty())
            mail.subject = SubjectFor(s.MailSubjectR, s);
        if (s.SendMailRtn) {
            if (!mail.body.isEmpty())
                mail.body += kCrLf;
            if (!headingWritten) {
                mail.body += QStringLiteral("The following sensors are no longer in alarm:") + kCrLf + kCrLf;
                headingWritten = true;
            }
        }
        mail.body += ReturnBlock(row) + kCrLf;
        mail.returnIds << row.sensorId;
        if (Reconnected(row))
            mail.reconnectedIds << row.sensorId;
    }
    return mail;
}

QString MailErrorText(int number, const QString &description, const QString &serverReply,
                      const QString &libraryError)
{
    QString text = QStringLiteral("Error #") + QString::number(number) + QLatin1Char(' ') + description;
    if (number == kErrMailExchange)
        text += kCrLf + QStringLiteral("SMTP Info") + kCrLf + serverReply + kCrLf + libraryError;
    return text;
}

void CheckAlarms() { CheckAlarms(defaultMailTransport()); }

void CheckAlarms(MailTransport &transport)
{
    // The send lets events run; a second run meanwhile would mail the same rows twice. The
    // rows it would have listed stay unmarked and go out with the next due mail.
    static bool running = false;
    if (running)
        return;
    running = true;
    struct Done
    {
        ~Done() { running = false; }
    } done;

    const Settings &s = program().settings;
    try {
        const AlarmMailText mail = ComposeAlarmMail(LoadMailRows(), s);
        if (!MailSettingsPresent(s)) {
            if (!mail.body.isEmpty())
                CountMail(false);
            NoteMailFailure(QStringLiteral("Alarm mail failed. One or more parameters not present."));
            return;
        }
        if (!mail.body.isEmpty()) {
            // An address that could smuggle a second recipient or an envelope parameter is
            // never sent to; the alarm waits for a usable one, and the log says why.
            const Envelope envelope = CheckEnvelope(s);
            if (!envelope.failure.isEmpty()) {
                CountMail(false);
                NoteMailFailure(QStringLiteral("Alarm mail failed. ") + envelope.failure);
                return;
            }
            for (const QString &leftOut : envelope.leftOut)
                LogIfWanted(QStringLiteral("Alarm mail: ") + leftOut);
            const MailResult r =
                transport.send(ServerSettings(s), {s.MailFrom, envelope.recipients, mail.subject, mail.body});
            CountMail(r.ok);
            if (!r.ok) {
                NoteMailFailure(MailErrorText(r.number, r.description, r.serverReply, r.libraryError));
                return;
            }
            MarkMailed(mail);
            NoteMailWorks();
        }
        LogIfWanted(QStringLiteral("Alarm mail sent to ") + s.MailAddress + QStringLiteral(". ") + kCrLf
                    + QString::number(mail.alarmCount) + QStringLiteral(" sensors in alarm. ") + kCrLf
                    + QString::number(mail.returnCount) + QStringLiteral(" sensors returned to normal. "));
    } catch (const ClarowError &e) {
        LogIfWanted(MailErrorText(e.number(), e.description(), {}, {}));
    }
}

void TestMail() { TestMail(defaultMailTransport()); }

void TestMail(MailTransport &transport)
{
    const Settings &s = program().settings;
    if (!MailSettingsPresent(s)) {
        LogIfWanted(QStringLiteral("Test mail failed. One or more parameters not present."));
        return;
    }
    const Envelope envelope = CheckEnvelope(s);
    if (!envelope.failure.isEmpty()) {
        LogIfWanted(QStringLiteral("Test mail failed. ") + envelope.failure);
        return;
    }
    for (const QString &leftOut : envelope.leftOut)
        LogIfWanted(QStringLiteral("Test mail: ") + leftOut);
    const QDateTime now = Now();
    const QLocale locale = QLocale::system();
    const QString body = QStringLiteral("Test: ") + locale.toString(now.date(), QLocale::LongFormat)
                         + QStringLiteral(", ") + locale.toString(now.time(), QLocale::LongFormat);
    const MailResult r = transport.send(
        ServerSettings(s), {s.MailFrom, envelope.recipients, QStringLiteral("Test message from Clarow"), body});
    if (!r.ok) {
        LogFailure(r);
        return;
    }
    LogIfWanted(QStringLiteral("Test email sent to ") + s.MailAddress);
}

} // namespace clarow
