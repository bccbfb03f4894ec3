#include "monitor/ScanCycle.h"

#include "core/Database.h"
#include "core/DiagnosticLog.h"
#include "core/Errors.h"
#include "core/PortLoan.h"
#include "core/Program.h"
#include "core/Settings.h"
#include "link/Clock.h"
#include "link/SerialPort.h"
#include "monitor/AlarmMail.h"
#include "monitor/Decoder.h"
#include "monitor/Metrics.h"
#include "monitor/Notify.h"
#include "monitor/ReadAdapter.h"
#include "monitor/SensorTable.h"

#include <QCoreApplication>
#include <QSqlError>
#include <QSqlQuery>

#include <cmath>
#include <exception>
#include <limits>
#include <utility>
#include <vector>

namespace clarow {

namespace {

constexpr int kTickMs = 200;
constexpr qint64 kWatchMs = 2LL * 60 * 60 * 1000;
// A schedule that starts before this day has never been started in this run.
const QDateTime kScheduleOrigin(QDate(2005, 1, 1), QTime(0, 0));

QString describe(const std::exception &e)
{
    if (const auto *c = dynamic_cast<const ClarowError *>(&e))
        return c->description();
    return QString::fromLocal8Bit(e.what());
}

qint64 intervalMs()
{
    return std::llround(static_cast<double>(program().settings.LoggingInterval) * 60000.0);
}

[[noreturn]] void connectionNotOpen()
{
    throw ClarowError(kErrDatabase, QStringLiteral("The database connection is not open."));
}

// Keeps the "scan under way" mark for exactly as long as one scan runs.
class ScanMark
{
public:
    explicit ScanMark(bool &flag) : m_flag(flag), m_old(flag) { m_flag = true; }
    ~ScanMark() { m_flag = m_old; }
    ScanMark(const ScanMark &) = delete;
    ScanMark &operator=(const ScanMark &) = delete;

private:
    bool &m_flag;
    bool m_old;
};

} // namespace

ScanCycle::ScanCycle(ScanView *view, QObject *parent) : QObject(parent), m_view(view)
{
    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setInterval(kTickMs);
    connect(&Timer1, &QTimer::timeout, this, &ScanCycle::Timer1_Timer);
}

void ScanCycle::start()
{
    LastGoodRead = NowWholeSeconds();
    Timer1.setInterval(kTickMs);
    Timer1.start();
    const Settings &s = program().settings;
    if (s.LogErrors)
        WriteLog(QStringLiteral("Clarow started"));
    if (s.LogComms)
        WriteLog(QStringLiteral("with verbose logging"));
}

void ScanCycle::stop() { Timer1.stop(); }

void ScanCycle::showStatus(const QString &text)
{
    if (m_view)
        m_view->showStatus(text);
}

void ScanCycle::logError(const QString &context, const QString &description)
{
    if (program().settings.LogErrors)
        WriteLog(context + description);
}

void ScanCycle::requestWeeklyCompaction(const QDateTime &now)
{
    if (now.date().dayOfWeek() != Qt::Tuesday || CompactRequested)
        return;
    const double today = ToSerial(QDateTime(now.date(), QTime(0, 0)));
    if (today - ToSerial(LastCompacted) <= 5.0)
        return;
    const int secondsSinceMidnight = now.time().msecsSinceStartOfDay() / 1000;
    if (secondsSinceMidnight > 10800 && secondsSinceMidnight < 10861)
        CompactRequested = true;
}

void ScanCycle::Timer1_Timer()
{
    // The pauses of a scan let events run; a tick that arrives meanwhile must not start a
    // second scan on top of the first.
    if (m_scanning)
        return;

    const QString timerError = QStringLiteral("Timer error: ");
    try {
        requestWeeklyCompaction(Now());
    } catch (const std::exception &e) {
        logError(timerError, describe(e));
    }

    int seconds = 0;
    try {
        Program &p = program();
        if (!p.scanSlot.isValid() || p.scanSlot < kScheduleOrigin) {
            const QDateTime start = NowWholeSeconds();
            p.scanSlot = start.addMSecs(-intervalMs());
            p.nextScan = start;
        } else {
            // Only the seconds field of the time left counts: a scan runs in every second in
            // which a whole number of minutes remains, about once a minute.
            const qint64 left = std::llabs(NowWholeSeconds().secsTo(p.nextScan));
            seconds = static_cast<int>(left % 60);
        }
    } catch (const std::exception &e) {
        logError(timerError, describe(e));
    }

    // A scan is due in every second of the schedule in which a whole number of minutes is
    // left, once: a scan that ends within that same second must not be followed by another.
    // A scan that fell due while a window had borrowed the port is made up when it is back.
    const QDateTime second = NowWholeSeconds();
    const bool due = seconds == 0 ? second != m_lastScanStart : m_scanOwed;
    if (due && PortLent()) {
        m_scanOwed = true;
    } else if (due) {
        m_scanOwed = false;
        m_lastScanStart = second;
        try {
            runScan();
        } catch (const std::exception &e) {
            logError(timerError, describe(e));
        }
    } else if (seconds != 0) {
        showStatus(QStringLiteral("Seconds to next scan: %1").arg(seconds, 2, 10, QLatin1Char('0')));
    }

    if (LastGoodRead.isValid() && LastGoodRead.msecsTo(Now()) > kWatchMs) {
        if (program().settings.LogErrors)
            WriteLog(QStringLiteral("Commection stopped. No Varnex detected for 2 hours."));
        Timer1.stop();
        if (m_view)
            m_view->closeWindow();
        return;
    }
    Timer1.start();
}

void ScanCycle::runScan()
{
    ScanMark mark(m_scanning);
    PortUse portInUse;
    ++m_scanCount;
    Timer1.stop();
    showStatus(QStringLiteral("Scanning"));
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();

    const Settings &s = program().settings;
    ReadResult read;
    if (SerialPort *port = program().port) {
        read = ReadAdapter(*port, s.PortNumber, s.LogComms,
                           [this](const QString &text) { showStatus(text); });
        if (read.status == ReadStatus::Complete)
            LastGoodRead = read.readAt;
    }
    RxBuffer = read.reply;
    const QDateTime readAt = read.readAt;
    CountScan(readAt);

    Program &p = program();
    if (!IsZeroDate(readAt) && readAt > p.nextScan) {
        // A logging scan whose rows could not be stored counts as a missed slot: the schedule
        // stays behind, so the next complete reading fills the gap.
        if (!DecodeReadings(true))
            return;
        const QDateTime slot = p.scanSlot;
        p.nextScan = slot.addMSecs(2 * intervalMs());
        p.scanSlot = slot.addMSecs(intervalMs());
    } else {
        DecodeReadings(false);
    }
}

bool ScanCycle::DecodeReadings(bool toHistory)
{
    ScanMark mark(m_scanning);
    Timer1.stop();
    MailPending = false;

    QSqlDatabase db = Db();
    bool inTransaction = false;
    bool historyOpen = false;
    try {
        // Without a connection nothing can be stored or evaluated; the failure path below
        // rebuilds it.
        if (!DatabaseIsOpen())
            connectionNotOpen();
        // Rows written into a deleted or replaced file would be lost unseen: fail, so that the
        // upkeep below reconnects to the file that is there, or notes the outage.
        if (DatabaseFileGone())
            throw ClarowError(kErrFileNotFound, QStringLiteral("Could not find file '%1'.").arg(DatabasePath()));
        if (RxBuffer.size() > 20) {
            // One transaction per scan: a bus of a few hundred sensors is stored in one write
            // to the file instead of one per row.
            inTransaction = db.transaction();
            // The history rows wait until the whole reply is decoded and go in together or
            // not at all: a scan that fails leaves the schedule behind, and its retry must not
            // find part of the slot already written.
            std::vector<std::pair<SensorLine, QDateTime>> rows;
            DecodeReply(RxBuffer, program().settings.CorF, [&](const SensorLine &line) {
                if (line.update)
                    UpdateSensor(line.id, line.temperature, line.ch2, line.water, LastGoodRead);
                if (toHistory)
                    rows.emplace_back(line, NowWholeSeconds());
            });
            if (!rows.empty()) {
                QSqlQuery savepoint(db);
                if (!savepoint.exec(QStringLiteral("SAVEPOINT history")))
                    throw ClarowError(kErrDatabase, savepoint.lastError().text());
                historyOpen = true;
                for (const auto &[line, at] : rows)
                    AppendHistory(line, at);
                if (!savepoint.exec(QStringLiteral("RELEASE history")))
                    throw ClarowError(kErrDatabase, savepoint.lastError().text());
                historyOpen = false;
            }
            if (inTransaction) {
                inTransaction = false;
                if (!db.commit())
                    throw ClarowError(kErrDatabase, db.lastError().text());
            }
        }
    } catch (const std::exception &e) {
        // The scan's history rows are undone; the sensor updates of the lines before the
        // failure are kept. When even the undo fails, the whole scan goes.
        bool keepUpdates = true;
        if (historyOpen) {
            QSqlQuery undo(db);
            keepUpdates = undo.exec(QStringLiteral("ROLLBACK TO history"))
                          && undo.exec(QStringLiteral("RELEASE history"));
        }
        if (!keepUpdates || (inTransaction && !db.commit()))
            db.rollback();
        db = QSqlDatabase(); // the upkeep below replaces the connection
        logError(QStringLiteral("Error processing Varnex data: "), describe(e));
        MaintainDatabase();
        Timer1.start();
        return false;
    }

    EvaluateSensors(MailPending);
    try {
        if (m_view)
            m_view->buildGrid();
    } catch (const std::exception &e) {
        logError(QStringLiteral("Timer error: "), describe(e));
    }
    if (MailPending)
        CheckAlarms();
    NotifyAfterScan();
    return true;
}

void ScanCycle::MaintainDatabase()
{
    const Settings &s = program().settings;
    try {
        if (ReconnectFailures > 0)
            ReconnectDatabase();
        if (SerialPort *port = program().port; port && port->isOpen())
            port->close();
        if (!DatabaseIsOpen())
            connectionNotOpen();
        CloseConnection();
        if (CompactRequested) {
            CompactRequested = false;
            Timer1.stop();
            if (CompactDB(DatabasePath(), QStringLiteral("Options"), QString())) {
                if (s.LogErrors)
                    WriteLog(QStringLiteral("Scheduled database compaction completed successfully."));
                LastCompacted = Now();
            } else if (s.LogErrors) {
                WriteLog(QStringLiteral("Scheduled database compaction failed."));
            }
            CompactRequested = false;
            Timer1.start();
        } else {
            OpenDatabase();
        }
        // A compaction leaves the connection closed; the failure path builds a new one.
        if (!DatabaseIsOpen())
            connectionNotOpen();
        EvaluateSensors(MailPending);
    } catch (const std::exception &) {
        CompactRequested = false;
        ReconnectDatabase();
    }
}

void ScanCycle::ReconnectDatabase()
{
    CloseConnection();
    try {
        OpenDatabase();
        LoadOptions();
        ApplyNameFallbacks(program().settings);
        if (OutageReported) {
            if (program().settings.LogErrors)
                WriteLog(QStringLiteral("Database connection failed ")
                         + OutageTime.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                         + QStringLiteral(". Now restored."));
            OutageReported = false;
        }
        ReconnectFailures = 0;
        EvaluateSensors(MailPending);
    } catch (const std::exception &) {
        // A lasting outage is noted once, at the seventh failed attempt in a row; its end is
        // logged when the connection comes back.
        if (ReconnectFailures > 5 && !OutageReported) {
            OutageTime = Now();
            OutageReported = true;
        } else if (ReconnectFailures < std::numeric_limits<qint16>::max()) {
            ReconnectFailures += 1;
        }
    }
}

} // namespace clarow
