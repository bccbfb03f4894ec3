#include "support/ScriptedSerialPort.h"
#include "support/TestHome.h"

#include "app/CloseDown.h"
#include "core/Database.h"
#include "core/Errors.h"
#include "core/Program.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

#include <gtest/gtest.h>

#include <stdexcept>

using namespace clarow;
using clarow::test::TestHome;

namespace {

// A plain connection of the test's own, for looking at a file from outside the code under
// test. Never used on a path that must stay missing (it would create the file).
class Reader
{
public:
    explicit Reader(const QString &path) : m_name(QStringLiteral("test-reader-%1").arg(++s_count))
    {
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        m_db.setDatabaseName(path);
        EXPECT_TRUE(m_db.open());
    }
    ~Reader()
    {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
    }
    void exec(const QString &sql)
    {
        QSqlQuery q(m_db);
        ASSERT_TRUE(q.exec(sql)) << sql.toStdString() << ": " << q.lastError().text().toStdString();
    }
    // Every row of a query, each as its values joined by "|" (NULL as "<null>").
    QStringList rows(const QString &sql)
    {
        QStringList out;
        QSqlQuery q(m_db);
        if (!q.exec(sql))
            return {QStringLiteral("error: ") + q.lastError().text()};
        while (q.next()) {
            QStringList values;
            for (int i = 0; i < q.record().count(); ++i)
                values << (q.isNull(i) ? QStringLiteral("<null>") : q.value(i).toString());
            out << values.join(QLatin1Char('|'));
        }
        return out;
    }
    QString value(const QString &sql)
    {
        const QStringList r = rows(sql);
        return r.isEmpty() ? QString() : r.first();
    }

private:
    static inline int s_count = 0;
    QString m_name;
    QSqlDatabase m_db;
};

// Everything stored in the two data tables, in a fixed order.
QStringList Content(const QString &path)
{
    Reader r(path);
    return r.rows(QStringLiteral("SELECT * FROM Sensors ORDER BY SensorID"))
        + r.rows(QStringLiteral("SELECT * FROM LogTbl ORDER BY SensorID, lTime"));
}

// Sensors in their reset state and a history, written through the shared connection,
// which is closed again afterwards.
void Fill(int sensors, int logRowsPerSensor)
{
    OpenDatabase();
    Db().transaction();
    for (int s = 0; s < sensors; ++s) {
        const QString id = QStringLiteral("26%1 19").arg(s, 14, 10, QLatin1Char('0'));
        Exec(QStringLiteral("INSERT INTO Sensors (SensorID, Location, Channel2Name, cTmp, cCh2, aTempLo, aTempHi, "
                            "LastR, InAlarm, AlType, Connected, ConcAlarms, MailSent, wStatus, aWtDr) "
                            "VALUES (?, ?, ?, ?, ?, ?, ?, 0, 0, 0, 0, 0, 0, ?, ?)"),
             {id, QStringLiteral("Room %1").arg(s), QStringLiteral("Humidity"), 20.5 + s, 40.25, -5.0, 30.0,
              s % 3, QVariant()});
        for (int i = 0; i < logRowsPerSensor; ++i)
            Exec(QStringLiteral("INSERT INTO LogTbl (SensorID, lTime, lTemp, lCh2, lWtr) VALUES (?, ?, ?, ?, ?)"),
                 {id, 39000.0 + i / 1440.0, 20.0 + i % 7, i % 2 ? QVariant() : QVariant(55.5), QVariant()});
    }
    Db().commit();
    CloseConnection();
}

// Sets every state column to a value away from its reset value.
void RaiseAlarms(Reader &r)
{
    r.exec(QStringLiteral("UPDATE Sensors SET InAlarm = 1, AlType = 9, Connected = 1, ConcAlarms = 4, "
                          "MailSent = 1, LastR = 45000.5"));
}

} // namespace

// ---------------------------------------------------------------------------------------
// Opening and the upgrade of older files

TEST(OpenDatabaseTest, OlderFileGainsTheThreeColumnsOnceAndKeepsItsRows)
{
    TestHome home(false);
    {
        Reader r(home.databasePath());
        r.exec(QStringLiteral("CREATE TABLE Sensors (SensorID TEXT PRIMARY KEY, Location TEXT, Channel2Name TEXT, "
                              "cTmp REAL, cCh2 REAL, aTempLo REAL, aTempHi REAL, aCh2Lo REAL, aCh2Hi REAL, "
                              "LastR REAL, InAlarm INTEGER DEFAULT 0, AlType INTEGER DEFAULT 0, Connected INTEGER, "
                              "ConcAlarms INTEGER DEFAULT 0, MailSent INTEGER DEFAULT 0)"));
        r.exec(QStringLiteral("CREATE TABLE LogTbl (SensorID TEXT, lTime REAL, lTemp REAL, lCh2 REAL)"));
        r.exec(QStringLiteral("CREATE TABLE Options (Name TEXT, Value TEXT)"));
        r.exec(QStringLiteral("INSERT INTO Sensors (SensorID, Location, cTmp) VALUES ('28000000000000AB', 'Hall', 21.5)"));
        r.exec(QStringLiteral("INSERT INTO Sensors (SensorID, Location, cTmp) VALUES ('2600000000000012 1A', 'Shed', 3)"));
        r.exec(QStringLiteral("INSERT INTO LogTbl VALUES ('28000000000000AB', 39000.5, 21.5, NULL)"));
        r.exec(QStringLiteral("INSERT INTO LogTbl VALUES ('2600000000000012 1A', 39000.5, 3, 77)"));
    }

    OpenDatabase();
    EXPECT_TRUE(DatabaseIsOpen());
    CloseConnection();
    QStringList schemaAfterFirst;
    {
        Reader r(home.databasePath());
        EXPECT_EQ(r.rows(QStringLiteral("SELECT SensorID, wStatus, aWtDr FROM Sensors ORDER BY SensorID")),
                  QStringList({"2600000000000012 1A|<null>|<null>", "28000000000000AB|<null>|<null>"}));
        EXPECT_EQ(r.rows(QStringLiteral("SELECT SensorID, lCh2, lWtr FROM LogTbl ORDER BY SensorID")),
                  QStringList({"2600000000000012 1A|77|<null>", "28000000000000AB|<null>|<null>"}));
        EXPECT_EQ(r.value(QStringLiteral("SELECT type FROM pragma_table_info('Sensors') WHERE name = 'wStatus'")),
                  QStringLiteral("TINYINT"));
        schemaAfterFirst = r.rows(QStringLiteral("SELECT sql FROM sqlite_master ORDER BY name"));
    }

    OpenDatabase();
    CloseConnection();
    Reader r(home.databasePath());
    EXPECT_EQ(r.rows(QStringLiteral("SELECT sql FROM sqlite_master ORDER BY name")), schemaAfterFirst);
    EXPECT_EQ(r.value(QStringLiteral("SELECT count(*) FROM Sensors")), QStringLiteral("2"));
    EXPECT_EQ(r.value(QStringLiteral("PRAGMA journal_mode")), QStringLiteral("wal"));
}

TEST(OpenDatabaseTest, EveryEarlierLayoutIsUpgradedOnceToTheLayoutOfTheEmptyDatabase)
{
    const QStringList original = {
        QStringLiteral("CREATE TABLE Sensors (SensorID TEXT PRIMARY KEY, Location TEXT, Channel2Name TEXT, cTmp REAL, "
                       "cCh2 REAL, aTempLo REAL, aTempHi REAL, aCh2Lo REAL, aCh2Hi REAL, LastR REAL, "
                       "InAlarm INTEGER DEFAULT 0, AlType INTEGER DEFAULT 0, Connected INTEGER, "
                       "ConcAlarms INTEGER DEFAULT 0, MailSent INTEGER DEFAULT 0)"),
        QStringLiteral("CREATE TABLE LogTbl (SensorID TEXT, lTime REAL, lTemp REAL, lCh2 REAL)"),
        QStringLiteral("CREATE TABLE Options (Name TEXT PRIMARY KEY, Value TEXT)"),
        QStringLiteral("INSERT INTO Sensors (SensorID, Location, cTmp) VALUES ('28000000000000AB', 'Hall', 21.5)"),
        QStringLiteral("INSERT INTO LogTbl VALUES ('28000000000000AB', 39000.5, 21.5, NULL)"),
    };
    const QStringList water = {QStringLiteral("ALTER TABLE Sensors ADD COLUMN wStatus TINYINT NULL"),
                               QStringLiteral("ALTER TABLE Sensors ADD COLUMN aWtDr TINYINT NULL"),
                               QStringLiteral("ALTER TABLE LogTbl ADD COLUMN lWtr TINYINT NULL")};
    const QString mail = QStringLiteral("ALTER TABLE Sensors ADD COLUMN MailedAlType INTEGER NULL");
    const QStringList push = {QStringLiteral("ALTER TABLE Sensors ADD COLUMN NotifySent INTEGER DEFAULT 0"),
                              QStringLiteral("ALTER TABLE Sensors ADD COLUMN NotifyConc INTEGER DEFAULT 0"),
                              QStringLiteral("ALTER TABLE Sensors ADD COLUMN NotifiedAlType INTEGER NULL")};
    const QString outbox = QStringLiteral("CREATE TABLE Outbox (Id INTEGER PRIMARY KEY AUTOINCREMENT, Channel TEXT, "
                                          "Event TEXT, SensorID TEXT, Created REAL, Payload TEXT, Attempts INTEGER, "
                                          "LastError TEXT)");
    const QString stampedOne = QStringLiteral("PRAGMA user_version = 1");
    // The files met in the field: the original layout; the empty database of the first
    // builds, stamped 1; that of the mail build after the probing added the push columns; the
    // original layout after the probing added some of the columns.
    const struct
    {
        const char *name;
        QStringList statements;
    } files[] = {
        {"original", original},
        {"first empty database", original + water + QStringList{stampedOne}},
        {"mail build, push columns probed", original + water + QStringList{mail} + push + QStringList{stampedOne}},
        {"original, partly probed", original + QStringList{water.at(2), mail, outbox}},
    };
    for (const auto &f : files) {
        SCOPED_TRACE(f.name);
        TestHome home(false);
        const QString reference = home.file(QStringLiteral("reference.mdb"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(CLAROW_EMPTY_DB), reference));
        {
            Reader r(home.databasePath());
            for (const QString &sql : f.statements)
                r.exec(sql);
        }

        OpenDatabase();
        CloseConnection();
        const QString columns = QStringLiteral("SELECT m.name || '.' || c.name FROM sqlite_master m, "
                                               "pragma_table_info(m.name) c WHERE m.type = 'table' ORDER BY 1");
        {
            Reader r(home.databasePath());
            Reader empty(reference);
            EXPECT_EQ(r.rows(columns), empty.rows(columns));
            EXPECT_EQ(r.value(QStringLiteral("PRAGMA user_version")), QString::number(kSchemaVersion));
            EXPECT_EQ(empty.value(QStringLiteral("PRAGMA user_version")), QString::number(kSchemaVersion));
            EXPECT_EQ(r.rows(QStringLiteral("SELECT SensorID, Location, cTmp FROM Sensors")),
                      QStringList{QStringLiteral("28000000000000AB|Hall|21.5")});
            EXPECT_EQ(r.value(QStringLiteral("SELECT count(*) FROM LogTbl")), QStringLiteral("1"));
        }

        // Once upgraded, an open writes nothing.
        QFile file(home.databasePath());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray upgraded = file.readAll();
        file.close();
        OpenDatabase();
        CloseConnection();
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), upgraded);
    }
}

TEST(OpenDatabaseTest, EmptyPlaceNamesGetTheirDefaultsForThisRunOnly)
{
    TestHome home;
    OpenDatabase();
    EXPECT_EQ(program().settings.DefaultSensorLoc, QStringLiteral("Unknown"));
    EXPECT_EQ(program().settings.LocationName, QStringLiteral("Unknown Location"));
    QFile store(clarow::test::SettingsFilePath());
    if (store.open(QIODevice::ReadOnly)) {
        EXPECT_FALSE(store.readAll().contains("LocationName"));
    }

    CloseConnection();
    program().settings.DefaultSensorLoc = QStringLiteral("Cellar");
    program().settings.LocationName = QStringLiteral("Plant 2");
    OpenDatabase();
    EXPECT_EQ(program().settings.DefaultSensorLoc, QStringLiteral("Cellar"));
    EXPECT_EQ(program().settings.LocationName, QStringLiteral("Plant 2"));
}

TEST(OpenDatabaseTest, MissingOrForeignFileThrowsAndNothingIsCreated)
{
    TestHome home(false);
    EXPECT_THROW(OpenDatabase(), ClarowError);
    EXPECT_FALSE(DatabaseIsOpen());
    EXPECT_FALSE(QFileInfo::exists(home.databasePath()));

    QFile junk(home.databasePath());
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'x'));
    junk.close();
    EXPECT_THROW(OpenDatabase(), ClarowError);
    EXPECT_FALSE(DatabaseIsOpen());
}

TEST(OpenDatabaseTest, EnsureColumnAddsOnlyWhatIsMissing)
{
    TestHome home;
    OpenDatabase();
    EXPECT_TRUE(EnsureColumn(QStringLiteral("Sensors"), QStringLiteral("cTmp"), QStringLiteral("REAL")));
    EXPECT_TRUE(EnsureColumn(QStringLiteral("sensors"), QStringLiteral("CTMP"), QStringLiteral("REAL")));
    EXPECT_TRUE(EnsureColumn(QStringLiteral("Sensors"), QStringLiteral("Muted"), QStringLiteral("YesNo")));
    EXPECT_TRUE(EnsureColumn(QStringLiteral("Sensors"), QStringLiteral("Muted"), QStringLiteral("YesNo")));
    EXPECT_FALSE(EnsureColumn(QStringLiteral("NoSuchTable"), QStringLiteral("x"), QStringLiteral("TINYINT")));
    // Names that would leave their place in the statement are refused, not run.
    EXPECT_FALSE(EnsureColumn(QStringLiteral("Sensors"), QStringLiteral("x]; DROP TABLE LogTbl; --"),
                              QStringLiteral("TINYINT")));
    EXPECT_FALSE(EnsureColumn(QStringLiteral("Sensors"), QStringLiteral("y"), QStringLiteral("TINYINT; DROP TABLE LogTbl")));
    CloseConnection();

    Reader r(home.databasePath());
    EXPECT_EQ(r.value(QStringLiteral("SELECT count(*) FROM pragma_table_info('Sensors') WHERE name = 'Muted'")),
              QStringLiteral("1"));
    EXPECT_EQ(r.value(QStringLiteral("SELECT count(*) FROM pragma_table_info('Sensors') WHERE name = 'y'")),
              QStringLiteral("0"));
    EXPECT_EQ(r.value(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = 'LogTbl'")), QStringLiteral("1"));
}

TEST(OpenDatabaseTest, ExecBindsValuesAndReportsFailures)
{
    TestHome home;
    EXPECT_THROW(Exec(QStringLiteral("SELECT 1")), ClarowError); // closed
    OpenDatabase();
    const QString odd = QStringLiteral("O'Brien's \"room\"; DROP TABLE Sensors");
    Exec(QStringLiteral("INSERT INTO Sensors (SensorID, Location) VALUES (?, ?)"), {QStringLiteral("28AA"), odd});
    QSqlQuery q = Exec(QStringLiteral("SELECT Location FROM Sensors WHERE SensorID = ?"), {QStringLiteral("28AA")});
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toString(), odd);
    try {
        Exec(QStringLiteral("SELECT nothing FROM Sensors"));
        ADD_FAILURE() << "no error";
    } catch (const ClarowError &e) {
        EXPECT_EQ(e.number(), kErrDatabase);
        EXPECT_TRUE(e.description().contains(QStringLiteral("nothing")));
    }
}

// ---------------------------------------------------------------------------------------
// Close-down

TEST(CloseDownTest, ResetsEveryRowSavesPositionsClosesPortAndConnection)
{
    TestHome home;
    Fill(3, 2);
    {
        Reader r(home.databasePath());
        RaiseAlarms(r);
    }
    const QStringList before = Content(home.databasePath());

    test::ScriptedSerialPort port;
    port.setPortNumber(1);
    ASSERT_TRUE(port.open());
    program().port = &port;
    program().settings.MdiLeft = 1234;
    OpenDatabase();
    CloseDown();
    program().port = nullptr;

    EXPECT_FALSE(DatabaseIsOpen());
    EXPECT_FALSE(port.isOpen());
    Reader r(home.databasePath());
    EXPECT_EQ(r.rows(QStringLiteral("SELECT DISTINCT InAlarm, AlType, Connected, ConcAlarms, MailSent, LastR "
                                    "FROM Sensors")),
              QStringList({"0|0|0|0|0|0"}));
    EXPECT_EQ(r.value(QStringLiteral("SELECT count(*) FROM Sensors")), QStringLiteral("3"));
    // Nothing else changes.
    EXPECT_EQ(r.rows(QStringLiteral("SELECT SensorID, Location, cTmp, wStatus FROM Sensors ORDER BY SensorID")).size(), 3);
    EXPECT_EQ(Content(home.databasePath()).mid(3), before.mid(3));

    QFile store(clarow::test::SettingsFilePath());
    ASSERT_TRUE(store.open(QIODevice::ReadOnly));
    const QByteArray text = store.readAll();
    EXPECT_TRUE(text.contains("MdiLeft=1234")) << text.toStdString();
    EXPECT_TRUE(text.contains("GrHeight"));
}

TEST(CloseDownTest, WorksWithTheConnectionAlreadyClosed)
{
    TestHome home;
    CloseDown();
    CloseDown();
    CloseConnection();
    EXPECT_FALSE(DatabaseIsOpen());
}

// ---------------------------------------------------------------------------------------
// Compaction

class CompactTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Fill(8, 400);
        // Free pages for the compaction to drop.
        OpenDatabase();
        Exec(QStringLiteral("DELETE FROM LogTbl WHERE lTemp > ?"), {22.0});
        CloseDown();
        m_content = Content(path());
        ASSERT_EQ(m_content.size(), 8 + 8 * 172); // the rows with lTemp 20 to 22 stay
    }
    void TearDown() override { testhooks::compactStep = nullptr; }

    [[nodiscard]] QString path() const { return m_home.databasePath(); }
    [[nodiscard]] QString backup() const { return m_home.file(QStringLiteral("clarowdata.bak")); }
    bool compact() { return CompactDB(path(), QStringLiteral("Options"), QString()); }
    void expectAllRows()
    {
        OpenDatabase(); // the file must still open as the program opens it
        CloseConnection();
        EXPECT_EQ(Content(path()), m_content);
    }

    TestHome m_home;
    QStringList m_content;
};

TEST_F(CompactTest, SuccessLeavesACompactedFileWithEveryRowAndNoBackup)
{
    const qint64 sizeBefore = QFileInfo(path()).size();
    {
        Reader r(path());
        ASSERT_NE(r.value(QStringLiteral("PRAGMA freelist_count")), QStringLiteral("0"));
    }
    OpenDatabase();
    EXPECT_TRUE(compact());
    EXPECT_FALSE(DatabaseIsOpen());
    EXPECT_FALSE(QFileInfo::exists(backup()));
    EXPECT_FALSE(QFileInfo::exists(path() + QStringLiteral("-wal")));
    EXPECT_LT(QFileInfo(path()).size(), sizeBefore);
    {
        Reader r(path());
        EXPECT_EQ(r.value(QStringLiteral("PRAGMA freelist_count")), QStringLiteral("0"));
        EXPECT_EQ(r.value(QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
    }
    expectAllRows();
    EXPECT_TRUE(compact()); // and again
    expectAllRows();
}

TEST_F(CompactTest, ScheduledCompactionKeepsTheSensorsAlarmAndMailState)
{
    // Monitoring goes on after the weekly compaction: a sensor in alarm must neither drop off
    // the grid nor be mailed again.
    {
        Reader r(path());
        RaiseAlarms(r);
        m_content = Content(path());
    }
    OpenDatabase();
    EXPECT_TRUE(compact());
    expectAllRows();
    Reader r(path());
    EXPECT_EQ(r.rows(QStringLiteral("SELECT DISTINCT InAlarm, AlType, ConcAlarms, MailSent FROM Sensors")),
              QStringList({"1|9|4|1"}));
}

TEST_F(CompactTest, StaleBackupIsRemovedAndTheNextCompactionProceeds)
{
    QFile stale(backup());
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.write("left over");
    stale.close();

    EXPECT_FALSE(compact());
    EXPECT_FALSE(DatabaseIsOpen());
    EXPECT_FALSE(QFileInfo::exists(backup()));
    expectAllRows();

    EXPECT_TRUE(compact());
    EXPECT_FALSE(QFileInfo::exists(backup()));
    expectAllRows();
}

TEST_F(CompactTest, BackupIsKeptWhileTheDatabaseIsMissingOrDamaged)
{
    // The backup may be the only copy left: it stays while the database is not sound.
    ASSERT_TRUE(QFile::rename(path(), backup()));
    EXPECT_FALSE(compact());
    EXPECT_TRUE(QFileInfo::exists(backup()));
    EXPECT_FALSE(QFileInfo::exists(path()));

    QFile damaged(path());
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write(QByteArray(8192, '\x5a'));
    damaged.close();
    EXPECT_FALSE(compact());
    EXPECT_TRUE(QFileInfo::exists(backup()));
    EXPECT_EQ(QFileInfo(path()).size(), 8192);
    EXPECT_EQ(Content(backup()), m_content);
}

TEST_F(CompactTest, PathWithoutExtensionOrFolderFailsAndKeepsEverything)
{
    {
        Reader r(path());
        RaiseAlarms(r);
        m_content = Content(path());
    }
    for (const QString &bad : {m_home.file(QStringLiteral("clarowdata")), m_home.file(QStringLiteral("clarowdata.sqlite")),
                               m_home.file(QStringLiteral("clarowdata.bak")), QStringLiteral("clarowdata.mdb")}) {
        OpenDatabase();
        EXPECT_FALSE(CompactDB(bad, QStringLiteral("Options"), QString())) << bad.toStdString();
        EXPECT_FALSE(DatabaseIsOpen());
    }
    EXPECT_FALSE(QFileInfo::exists(backup()));
    expectAllRows();
}

TEST_F(CompactTest, MissingCheckTableFailsAndKeepsTheFile)
{
    {
        Reader r(path());
        r.exec(QStringLiteral("DROP TABLE Options"));
    }
    EXPECT_FALSE(compact());
    EXPECT_FALSE(DatabaseIsOpen());
    EXPECT_FALSE(QFileInfo::exists(backup()));
    expectAllRows();
}

TEST_F(CompactTest, FileHeldOpenElsewhereIsNotReplaced)
{
    {
        QSqlDatabase other = OpenPrivateConnection(QStringLiteral("other"));
        EXPECT_FALSE(compact());
        Exec(other, QStringLiteral("SELECT count(*) FROM LogTbl"));
        other.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other"));
    EXPECT_FALSE(QFileInfo::exists(backup()));
    expectAllRows();
    EXPECT_TRUE(compact());
    expectAllRows();
}

TEST_F(CompactTest, FailureAtAnyStepLosesNoRow)
{
    for (int failAt = 1; failAt <= 9; ++failAt) {
        SCOPED_TRACE(failAt);
        testhooks::compactStep = [failAt](int step) {
            if (step == failAt)
                throw std::runtime_error("injected");
        };
        OpenDatabase();
        EXPECT_FALSE(compact());
        testhooks::compactStep = nullptr;
        EXPECT_FALSE(DatabaseIsOpen());
        expectAllRows();

        EXPECT_TRUE(compact());
        EXPECT_FALSE(QFileInfo::exists(backup()));
        expectAllRows();
    }
}
