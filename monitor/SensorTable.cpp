#include "monitor/SensorTable.h"

#include "core/Database.h"
#include "core/DiagnosticLog.h"
#include "core/Errors.h"
#include "core/Program.h"
#include "link/Clock.h"
#include "link/TypeCodes.h"
#include "monitor/Decoder.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <optional>
#include <vector>

namespace clarow {

namespace {

constexpr int kDisconnected = 9;
constexpr int kStaleSeconds = 30;         // a reading this old means the sensor stopped answering
constexpr int kHoldDisconnectedSecs = 7200; // the disconnected alarm is dropped after two hours

void LogSensorError(const QString &description)
{
    if (program().settings.LogErrors)
        WriteLog(QStringLiteral("Error updating sensors: ") + description);
}

QString ErrorText(const QSqlQuery &q)
{
    const QString text = q.lastError().text();
    return text.isEmpty() ? QStringLiteral("Database statement failed") : text;
}

void Prepare(QSqlQuery &q, const QString &sql)
{
    if (!q.prepare(sql))
        throw ClarowError(kErrDatabase, ErrorText(q));
}

void Run(QSqlQuery &q)
{
    if (!q.exec())
        throw ClarowError(kErrDatabase, ErrorText(q));
}

QVariant Real(float v) { return QVariant(static_cast<double>(v)); }

// A single column read back as the program holds it, so that a stored 50 and a reading of
// 50.0 compare equal; empty stays empty.
std::optional<float> Single(const QVariant &v)
{
    if (v.isNull())
        return std::nullopt;
    return static_cast<float>(v.toDouble());
}

std::optional<int> Whole(const QVariant &v)
{
    if (v.isNull())
        return std::nullopt;
    return v.toInt();
}

bool Less(std::optional<float> a, std::optional<float> b) { return a && b && *a < *b; }
bool Greater(std::optional<float> a, std::optional<float> b) { return a && b && *a > *b; }

// What the type-code table says of a sensor, by the row of the last two characters of its
// identifier (t: nullptr for a code the table does not hold). The second-channel name, empty
// when the type has none:
QString Channel2NameFor(const TypeCode *t)
{
    return t ? QString::fromLatin1(t->channel2) : QString();
}

bool HasWater(const TypeCode *t) { return t && t->hasWater; }

// A multi-sensor of a type code the table does not hold is taken to have a second channel.
bool HasCh2(const TypeCode *t) { return !t || t->hasCh2; }

// A multi-sensor type that reports its temperature and nothing else ("00").
bool TemperatureOnly(const TypeCode *t) { return t && !t->hasCh2 && !t->hasWater; }

void InsertSensor(const QString &id, float temperature, float ch2, const QDateTime &lastGoodRead)
{
    const Settings &s = program().settings;
    const bool multi = FamilyOf(id) == QLatin1String(kMultiSensorFamily);
    const TypeCode *type = FindTypeCode(TypeOf(id));

    QStringList columns{QStringLiteral("SensorID"), QStringLiteral("Location"), QStringLiteral("cTmp"),
                        QStringLiteral("aTempLo"), QStringLiteral("aTempHi"), QStringLiteral("LastR"),
                        QStringLiteral("Connected")};
    QVariantList values{id,
                        s.DefaultSensorLoc.isEmpty() ? QStringLiteral("Unknown") : s.DefaultSensorLoc,
                        Real(temperature),
                        Real(s.DefLoT),
                        Real(s.DefHiT),
                        ToSerial(lastGoodRead),
                        1};
    if (multi && HasCh2(type)) {
        columns << QStringLiteral("cCh2") << QStringLiteral("aCh2Lo") << QStringLiteral("aCh2Hi");
        values << Real(ch2) << Real(s.DefLoCh2) << Real(s.DefHiCh2);
        const QString name = Channel2NameFor(type);
        if (!name.isEmpty()) {
            columns << QStringLiteral("Channel2Name");
            values << name;
        }
    }
    // New water sensors start without a wet or dry alarm; the operator chooses one.
    if (HasWater(type)) {
        columns << QStringLiteral("aWtDr");
        values << 0;
    }

    QSqlQuery q(Db());
    QStringList marks;
    for (qsizetype i = 0; i < columns.size(); ++i)
        marks << QStringLiteral("?");
    Prepare(q, QStringLiteral("INSERT INTO Sensors (%1) VALUES (%2)")
                   .arg(columns.join(QLatin1Char(',')), marks.join(QLatin1Char(','))));
    for (const QVariant &v : values)
        q.addBindValue(v);
    Run(q);
}

void UpdateKnownSensor(const QString &id, const QVariant &channel2Name, float temperature,
                       float ch2, quint8 water, const QDateTime &lastGoodRead)
{
    const bool multi = FamilyOf(id) == QLatin1String(kMultiSensorFamily);
    const TypeCode *type = FindTypeCode(TypeOf(id));

    QStringList sets{QStringLiteral("LastR=?"), QStringLiteral("cTmp=?")};
    QVariantList values{ToSerial(lastGoodRead), Real(temperature)};
    if (HasWater(type)) {
        sets << QStringLiteral("wStatus=?");
        values << int(water);
    }
    // Every multi-sensor that reports more than its temperature stores cCh2 (a water-only
    // one its 0).
    if (multi && !TemperatureOnly(type)) {
        sets << QStringLiteral("cCh2=?");
        values << Real(ch2);
        const QString name = Channel2NameFor(type);
        if (channel2Name.toString().isEmpty() && !name.isEmpty()) {
            sets << QStringLiteral("Channel2Name=?");
            values << name;
        }
    }
    sets << QStringLiteral("Connected=1");

    QSqlQuery q(Db());
    Prepare(q, QStringLiteral("UPDATE Sensors SET %1 WHERE SensorID=?").arg(sets.join(QLatin1Char(','))));
    for (const QVariant &v : values)
        q.addBindValue(v);
    q.addBindValue(id);
    Run(q);
}

// One row of Sensors as the alarm evaluation sees it.
struct SensorState
{
    qint64 rowId = 0;
    QString id;
    std::optional<float> cTmp, cCh2, aTempLo, aTempHi, aCh2Lo, aCh2Hi;
    double lastR = 0;
    bool connected = false;
    std::optional<int> concAlarms;
    std::optional<bool> mailSent;
    std::optional<int> wStatus;
    std::optional<int> aWtDr;
};

// Every row, or the one row of `id` when it is given.
std::vector<SensorState> LoadSensorStates(const QString &id = QString())
{
    QSqlQuery q(Db());
    q.setForwardOnly(true);
    Prepare(q, QStringLiteral("SELECT rowid, SensorID, cTmp, cCh2, aTempLo, aTempHi, aCh2Lo, aCh2Hi, "
                              "LastR, Connected, ConcAlarms, MailSent, wStatus, aWtDr "
                              "FROM Sensors %1 ORDER BY rowid")
                   .arg(id.isNull() ? QString() : QStringLiteral("WHERE SensorID=?")));
    if (!id.isNull())
        q.addBindValue(id);
    Run(q);
    std::vector<SensorState> rows;
    while (q.next()) {
        SensorState r;
        r.rowId = q.value(0).toLongLong();
        r.id = q.value(1).toString();
        r.cTmp = Single(q.value(2));
        r.cCh2 = Single(q.value(3));
        r.aTempLo = Single(q.value(4));
        r.aTempHi = Single(q.value(5));
        r.aCh2Lo = Single(q.value(6));
        r.aCh2Hi = Single(q.value(7));
        r.lastR = q.value(8).isNull() ? 0.0 : q.value(8).toDouble();
        r.connected = !q.value(9).isNull() && q.value(9).toInt() != 0;
        r.concAlarms = Whole(q.value(10));
        if (!q.value(11).isNull())
            r.mailSent = q.value(11).toInt() != 0;
        r.wStatus = Whole(q.value(12));
        r.aWtDr = Whole(q.value(13));
        rows.push_back(std::move(r));
    }
    return rows;
}

// The alarm code of a sensor whose reading is fresh.
int FreshAlarm(const SensorState &r)
{
    const bool multi = FamilyOf(r.id) == QLatin1String(kMultiSensorFamily);
    const TypeCode *type = FindTypeCode(TypeOf(r.id));
    const bool tempLow = Less(r.cTmp, r.aTempLo);
    const bool tempHigh = Greater(r.cTmp, r.aTempHi);
    int alType = 0;

    if (!multi || TemperatureOnly(type)) {
        if (tempLow)
            alType = 1;
        if (tempHigh)
            alType = 2;
        return alType;
    }

    // Later codes replace earlier ones: water wins over temperature, temperature over the
    // second channel. A water-only sensor has no second channel to judge.
    const bool judgesCh2 = HasCh2(type);
    if (judgesCh2 && Less(r.cCh2, r.aCh2Lo))
        alType = 3;
    if (judgesCh2 && Greater(r.cCh2, r.aCh2Hi))
        alType = 4;
    if (tempLow)
        alType = 1;
    if (tempHigh)
        alType = 2;
    if (HasWater(type) && r.wStatus) {
        switch (*r.wStatus) {
        case 0:
            if (r.aWtDr == 2)
                alType = 6;
            break;
        case 1:
            alType = 7;
            break;
        case 2:
            if (r.aWtDr == 1)
                alType = 5;
            break;
        default:
            break;
        }
    }
    return alType;
}

// The times a row's last reading is judged against: a connected sensor whose reading is not
// later than `staleBefore` did not answer the scan and is marked as no longer connected; an
// invalid `staleBefore` (an edit between two scans) leaves the connection as the last scan
// found it. A sensor that is not answering stays disconnected while its last reading is
// later than `holdUntil`.
struct Judgement
{
    QDateTime staleBefore;
    QDateTime holdUntil;
};

Judgement ScanJudgement(const QDateTime &now)
{
    return {now.addSecs(-kStaleSeconds), now.addSecs(-kHoldDisconnectedSecs)};
}

int JudgeAlarm(SensorState &r, const Judgement &j)
{
    const QDateTime lastRead = FromSerial(r.lastR);
    if (r.connected && r.lastR > 0) {
        if (!j.staleBefore.isValid() || lastRead > j.staleBefore)
            return FreshAlarm(r);
        r.connected = false;
        return kDisconnected;
    }
    if (r.lastR > 0 && lastRead > j.holdUntil)
        return kDisconnected;
    return 0;
}

// Counts consecutive scans towards an alarm or return-to-normal mail. An empty count stays
// empty (it never reaches the threshold) until a reset fills it. A mail becomes due only for
// a sensor that the mail can list: one in alarm and not yet mailed, or a mailed one that is
// back within its limits and answering. Without return-to-normal mail, a mailed sensor that
// has stayed back to normal for as many scans is marked as not mailed, so that its next alarm
// is mailed again. Returns true when that mark is to be cleared.
bool CountTowardsMail(SensorState &r, bool inAlarm, bool &mailPending)
{
    const Settings &s = program().settings;
    const auto add = [](std::optional<int> c) { return c ? std::optional<int>(*c + 1) : c; };
    if (r.mailSent == false) {
        r.concAlarms = inAlarm ? add(r.concAlarms) : 0;
    } else if (inAlarm || !r.connected) {
        // An empty MailSent counts as a mailed alarm. A silent sensor cannot be listed as
        // back to normal, so it does not count towards that mail.
        r.concAlarms = 0;
    } else {
        r.concAlarms = add(r.concAlarms);
    }
    if (!r.concAlarms || *r.concAlarms < s.MinsConsecutive)
        return false;
    r.concAlarms = 0;
    if (r.mailSent == false || s.SendMailRtn) {
        mailPending = true;
        return false;
    }
    return true;
}

QVariant Nullable(std::optional<int> v) { return v ? QVariant(*v) : QVariant(); }

} // namespace

void UpdateSensor(const QString &id, float temperature, float ch2, quint8 water,
                  const QDateTime &lastGoodRead)
{
    try {
        QSqlQuery find(Db());
        Prepare(find, QStringLiteral("SELECT Channel2Name FROM Sensors WHERE SensorID=?"));
        find.addBindValue(id);
        Run(find);
        if (find.next()) {
            const QVariant channel2Name = find.value(0);
            find.finish();
            UpdateKnownSensor(id, channel2Name, temperature, ch2, water, lastGoodRead);
        } else {
            find.finish();
            InsertSensor(id, temperature, ch2, lastGoodRead);
        }
    } catch (const ClarowError &e) {
        LogSensorError(e.description());
    }
}

void AppendHistory(const SensorLine &line, const QDateTime &at)
{
    QSqlQuery q(Db());
    Prepare(q, QStringLiteral("INSERT INTO LogTbl (SensorID, lTime, lTemp, lCh2, lWtr) VALUES (?,?,?,?,?)"));
    q.addBindValue(line.id);
    q.addBindValue(ToSerial(at));
    q.addBindValue(Real(line.temperature));
    q.addBindValue(line.logCh2 ? Real(*line.logCh2) : QVariant());
    q.addBindValue(line.logWater ? QVariant(int(*line.logWater)) : QVariant());
    Run(q);
}

void EvaluateSensors(bool &mailPending)
{
    QSqlDatabase db = Db();
    // One transaction for the whole pass, unless the scan already runs in one.
    const bool ownTransaction = db.isOpen() && db.transaction();
    try {
        const Judgement judgement = ScanJudgement(Now());
        std::vector<SensorState> rows = LoadSensorStates();

        QSqlQuery save(db);
        Prepare(save, QStringLiteral("UPDATE Sensors SET AlType=?, InAlarm=?, Connected=?, ConcAlarms=? "
                                     "WHERE rowid=?"));
        QSqlQuery forget(db);
        Prepare(forget, QStringLiteral("UPDATE Sensors SET MailSent=0 WHERE rowid=?"));
        for (SensorState &r : rows) {
            const int alType = JudgeAlarm(r, judgement);
            const bool inAlarm = alType > 0;
            if (program().settings.SendMailAlarm && CountTowardsMail(r, inAlarm, mailPending)) {
                forget.addBindValue(r.rowId);
                if (!forget.exec())
                    LogSensorError(ErrorText(forget));
            }

            save.addBindValue(alType);
            save.addBindValue(inAlarm ? 1 : 0);
            save.addBindValue(r.connected ? 1 : 0);
            save.addBindValue(Nullable(r.concAlarms));
            save.addBindValue(r.rowId);
            if (!save.exec())
                LogSensorError(ErrorText(save));
        }
    } catch (const ClarowError &e) {
        LogSensorError(e.description());
    }
    if (ownTransaction && !db.commit()) {
        LogSensorError(db.lastError().text());
        db.rollback();
    }
}

std::optional<int> CurrentAlarmType(const QString &id)
{
    std::vector<SensorState> rows = LoadSensorStates(id);
    if (rows.empty())
        return std::nullopt;
    Judgement betweenScans = ScanJudgement(Now());
    betweenScans.staleBefore = QDateTime();
    return JudgeAlarm(rows.front(), betweenScans);
}

} // namespace clarow
