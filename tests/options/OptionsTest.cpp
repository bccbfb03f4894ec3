// The Main Options window, offscreen, over a fresh settings store and program folder.
#include "core/Database.h"
#include "core/Program.h"
#include "core/Settings.h"
#include "link/SerialPort.h"
#include "link/VirtualClock.h"
#include "options/OptionsForm.h"
#include "options/ui/ColourBox.h"
#include "options/ui/Options.h"

#include "Accessible.h"
#include "PushReceivers.h"
#include "ScriptedPrompter.h"
#include "SimProcess.h"
#include "SmtpServer.h"
#include "TestHome.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QColorDialog>
#include <QDir>
#include <QComboBox>
#include <QLabel>
#include <QFile>
#include <QFocusEvent>
#include <QLineEdit>
#include <QSettings>
#include <QSqlQuery>
#include <QTabBar>
#include <QTabWidget>
#include <QApplication>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <functional>

using namespace clarow;
using namespace clarow::test;

namespace {

template <typename T = QLineEdit>
T *child(QWidget &w, const char *name, int index = 0)
{
    const QList<T *> all = w.findChildren<T *>(QLatin1String(name));
    for (T *c : all) {
        if (c->property("index").toInt() == index)
            return c;
    }
    ADD_FAILURE() << "no control " << name << " " << index;
    return nullptr;
}

void click(QWidget &w, const char *name) { child<QAbstractButton>(w, name)->click(); }

void leave(QWidget *box)
{
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(box, &out);
}

QString stored(const char *key)
{
    QSettings s(QStringLiteral("Quillmark"), QStringLiteral("Quillmark"));
    return s.value(QStringLiteral("ClarowMon/") + QLatin1String(key)).toString();
}

QByteArray settingsFile()
{
    QFile f(SettingsFilePath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class OptionsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        LoadOptions();
        OpenDatabase();
    }
    TestHome home;
    ScriptedPrompter boxes;
};

} // namespace

// Each box's text as typed, what Apply stores and what the box shows afterwards.
TEST_F(OptionsTest, ApplyConvertsEachBoxAsStoredAndShown)
{
    struct Case
    {
        const char *box;
        QString typed;
        const char *key;
        QString storedText;
        QString shown;
    };
    const Case cases[] = {
        {"DefaultIntBx", QStringLiteral("0"), "LoggingInterval", QStringLiteral("10"), QStringLiteral("10")},
        {"DefaultIntBx", QString(), "LoggingInterval", QStringLiteral("10"), QStringLiteral("10")},
        {"DefaultIntBx", QStringLiteral("abc"), "LoggingInterval", QStringLiteral("10"), QStringLiteral("10")},
        {"DefaultIntBx", QStringLiteral("7.9"), "LoggingInterval", QStringLiteral("7"), QStringLiteral("7")},
        {"NoConsecBx", QStringLiteral("0"), "MinsConsecutive", QStringLiteral("1"), QStringLiteral("1")},
        {"NoConsecBx", QStringLiteral("abc"), "MinsConsecutive", QStringLiteral("1"), QStringLiteral("1")},
        {"MailSvrBx", QStringLiteral("smtp.example.org:587"), "MailServer", QStringLiteral("smtp.example.org"),
         QStringLiteral("smtp.example.org")},
        {"SMTPportBx", QString(), "MailPort", QStringLiteral("25"), QStringLiteral("25")},
        {"SMTPportBx", QStringLiteral("2525"), "MailPort", QStringLiteral("2525"), QStringLiteral("2525")},
        {"HistDaysBx", QStringLiteral("3"), "DispHours", QStringLiteral("72"), QStringLiteral("3")},
        {"PortNoBx", QStringLiteral("x"), "PortNumber", QStringLiteral("1"), QStringLiteral("1")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.box) + " = " + c.typed.toStdString());
        Options w;
        child(w, "SMTPportBx")->setText(QStringLiteral("587"));
        child(w, c.box)->setText(c.typed);
        ASSERT_TRUE(w.ApplyBtn_Click());
        EXPECT_EQ(stored(c.key), c.storedText);
        EXPECT_EQ(child(w, c.box)->text(), c.shown);
    }
    // The port after the server name never replaces the port box's.
    EXPECT_EQ(program().settings.MailPort, 587);
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

TEST_F(OptionsTest, LeavingTheHumidityBoxesKeepsThemInRangeAndInOrder)
{
    struct Case
    {
        QString low, high;
        const char *left;
        QString lowAfter, highAfter;
    };
    const Case cases[] = {
        {QStringLiteral("20"), QStringLiteral("150"), "Hhigh", QStringLiteral("20"), QStringLiteral("100")},
        {QStringLiteral("60"), QStringLiteral("40"), "Hhigh", QStringLiteral("60"), QStringLiteral("60")},
        {QStringLiteral("20"), QStringLiteral("-3"), "Hhigh", QStringLiteral("20"), QStringLiteral("20")},
        {QStringLiteral("-5"), QStringLiteral("80"), "Hlow", QStringLiteral("0"), QStringLiteral("80")},
        {QStringLiteral("90"), QStringLiteral("40"), "Hlow", QStringLiteral("40"), QStringLiteral("40")},
        {QStringLiteral("20.5"), QStringLiteral("80"), "Hlow", QStringLiteral("20.5"), QStringLiteral("80")},
        // Temperatures have no such rule.
        {QStringLiteral("20"), QStringLiteral("80"), "Lhigh", QStringLiteral("20"), QStringLiteral("80")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.left) + " " + c.low.toStdString() + "/" + c.high.toStdString());
        Options w;
        child(w, "Hlow")->setText(c.low);
        child(w, "Hhigh")->setText(c.high);
        child(w, "Lhigh")->setText(QStringLiteral("-400"));
        child<QAbstractButton>(w, "ApplyBtn")->setEnabled(false);
        leave(child(w, c.left));
        EXPECT_EQ(child(w, "Hlow")->text(), c.lowAfter);
        EXPECT_EQ(child(w, "Hhigh")->text(), c.highAfter);
        EXPECT_EQ(child(w, "Lhigh")->text(), QStringLiteral("-400"));
        EXPECT_TRUE(child<QAbstractButton>(w, "ApplyBtn")->isEnabled());
    }
}

TEST_F(OptionsTest, FormatTestRewritesTheCustomFormatsAndShowsThem)
{
    const struct
    {
        QString typed, time;
    } times[] = {{QStringLiteral("hh:nn AM/PM"), QStringLiteral("hh:mm am/pm")},
                 {QStringLiteral("hh:nn"), QStringLiteral("HH:mm")},
                 {QStringLiteral(" HH:NN:ss a/p "), QStringLiteral("hh:mm:ss a/p")}};
    for (const auto &t : times)
        EXPECT_EQ(RewriteTimeFormat(t.typed), t.time) << t.typed.toStdString();
    EXPECT_EQ(RewriteDateFormat(QStringLiteral("DD/mm/YYYY")), QStringLiteral("dd/MM/yyyy"));

    VirtualClock vc(QDateTime(QDate(2026, 3, 2), QTime(14, 5)));
    ScopedClock use(vc);
    Options w;
    click(w, "CustDopt");
    click(w, "CustTopt");
    EXPECT_TRUE(child(w, "CustDformat")->isEnabled());
    child(w, "CustDformat")->setText(QStringLiteral("DD/mm/YYYY"));
    child(w, "CustTformat")->setText(QStringLiteral("hh:nn AM/PM"));
    click(w, "TestDTbtn");
    EXPECT_EQ(child(w, "CustDformat")->text(), QStringLiteral("dd/MM/yyyy"));
    EXPECT_EQ(child(w, "CustTformat")->text(), QStringLiteral("hh:mm am/pm"));
    EXPECT_EQ(child(w, "TestDT")->text(), QStringLiteral("02/03/2026  02:05 pm"));
    ASSERT_TRUE(w.ApplyBtn_Click());
    EXPECT_EQ(stored("DateFormat"), QStringLiteral("dd/MM/yyyy"));
    EXPECT_EQ(stored("TimeFormat"), QStringLiteral("hh:mm am/pm"));

    // Back to the named form: the option puts its caption in the box and closes it.
    click(w, "ShortDopt");
    EXPECT_EQ(child(w, "CustDformat")->text(), QStringLiteral("Short Date"));
    EXPECT_FALSE(child(w, "CustDformat")->isEnabled());
}

TEST_F(OptionsTest, MailOffKeepsTheSwitchesAndLoginEditsAreStoredByOK)
{
    Settings &s = program().settings;
    s.SendMailAlarm = s.SendMailRtn = s.SendMailWtr = s.SendMailLoT = s.SendMailHiT = s.SendMailLoCh2 =
        s.SendMailHiCh2 = true;
    SaveOptions();
    {
        Options w;
        EXPECT_TRUE(child<QCheckBox>(w, "LoHuChk")->isChecked());
        EXPECT_FALSE(child(w, "UserNameBx")->isEnabled());
        click(w, "SendMailChk");
        EXPECT_FALSE(child<QCheckBox>(w, "SendRTNchk")->isEnabled());
        ASSERT_TRUE(w.ApplyBtn_Click());
        EXPECT_FALSE(child<QCheckBox>(w, "SendRTNchk")->isChecked());
        EXPECT_FALSE(child<QCheckBox>(w, "chkSmw")->isEnabled());
    }
    EXPECT_EQ(stored("SendMailAlarm"), QStringLiteral("False"));
    for (const char *key : {"SendMailRtn", "SendMailWtr", "SendMailLoT", "SendMailHiT", "SendMailLoCh2", "SendMailHiCh2"})
        EXPECT_EQ(stored(key), QStringLiteral("True")) << key;

    // Ticking the login box and typing a user and password are edits like any other.
    Options w;
    click(w, "AuthBx");
    EXPECT_TRUE(child(w, "PwBx")->isEnabled());
    child(w, "UserNameBx")->setText(QStringLiteral("alarms"));
    child<QAbstractButton>(w, "ApplyBtn")->setEnabled(false);
    child(w, "PwBx")->setText(QStringLiteral("s3cret"));
    EXPECT_TRUE(child<QAbstractButton>(w, "ApplyBtn")->isEnabled());
    EXPECT_FALSE(child<QAbstractButton>(w, "TestMailBtn")->isEnabled());
    w.ExitBtn_Click();
    EXPECT_EQ(stored("MailAuth"), QStringLiteral("True"));
    EXPECT_EQ(stored("MailUser"), QStringLiteral("alarms"));
    EXPECT_EQ(stored("MailPassword"), QStringLiteral("s3cret"));
}

// A failed Apply is shown and changes nothing, in use or in the store: the boxes keep what
// was typed, and Cancel leaves the program as it was before the dialog.
TEST_F(OptionsTest, FailingApplyChangesNothingAndKeepsTheTypedValues)
{
    VirtualClock vc;
    ScopedClock use(vc);
    Settings &s = program().settings;
    s.SendMailAlarm = true;
    SaveOptions();
    program().scanSlot = vc.now().addSecs(-60);
    program().nextScan = vc.now().addSecs(540);
    const QByteArray before = settingsFile();
    struct Case
    {
        const char *box;
        QString typed;
        const char *ticked; // a choice changed as well
        QString error;
    };
    const Case cases[] = {
        {"Llow", QStringLiteral("abc"), "FahrenheitOpt", QStringLiteral("Error 13.\rType mismatch")},
        {"Hhigh", QString(), "SendMailChk", QStringLiteral("Error 13.\rType mismatch")},
        {"HistDaysBx", QStringLiteral("2000"), "KeepAllChk", QStringLiteral("Error 6.\rOverflow")},
        // A store that cannot be written: the converted values are not kept in use either.
        {"Llow", QStringLiteral("5"), "FahrenheitOpt", QString()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.box) + " " + c.ticked);
        boxes.boxes.clear();
        const Settings inUse = s;
        const QDateTime nextScan = program().nextScan;
        const bool unwritable = c.error.isEmpty();
        if (unwritable) {
            QFile::remove(SettingsFilePath());
            ASSERT_TRUE(QDir().mkpath(SettingsFilePath()));
        }
        Options w;
        w.show();
        child(w, "CoName")->setText(QStringLiteral("North wing"));
        child(w, "DefaultIntBx")->setText(QStringLiteral("0"));
        const bool wasTicked = child<QAbstractButton>(w, c.ticked)->isChecked();
        click(w, c.ticked);
        child(w, c.box)->setText(c.typed);
        EXPECT_FALSE(w.ApplyBtn_Click());
        ASSERT_EQ(boxes.titles(), QStringList{QStringLiteral("Error")});
        if (!unwritable) {
            EXPECT_EQ(boxes.boxes[0].text, c.error);
        }
        EXPECT_TRUE(child<QAbstractButton>(w, "ApplyBtn")->isEnabled());
        EXPECT_TRUE(s == inUse);
        EXPECT_EQ(program().nextScan, nextScan);
        EXPECT_EQ(child(w, c.box)->text(), c.typed);
        EXPECT_EQ(child(w, "DefaultIntBx")->text(), QStringLiteral("0"));
        EXPECT_NE(child<QAbstractButton>(w, c.ticked)->isChecked(), wasTicked);
        // OK with a failing Apply keeps the window and the typed values.
        w.ExitBtn_Click();
        EXPECT_TRUE(w.isVisible());
        click(w, "CancelBtn");
        EXPECT_FALSE(w.isVisible());
        EXPECT_TRUE(s == inUse);
        if (unwritable) {
            ASSERT_TRUE(QDir().rmdir(SettingsFilePath()));
            QFile f(SettingsFilePath());
            ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(before) == before.size());
        }
        EXPECT_EQ(settingsFile(), before);
    }
}

TEST_F(OptionsTest, AppliedSettingsReachAPrivateFileAndLoadBack)
{
    const mode_t old = umask(0);
    {
        Options w;
        child(w, "CoName")->setText(QStringLiteral("Cold store"));
        click(w, "FahrenheitOpt");
        click(w, "AutoScanChk");
        child(w, "PwBx")->setText(QStringLiteral("ignored without login"));
        child<ColourBox>(w, "ColBx", 4)->setColour(0x123456);
        ASSERT_TRUE(w.ApplyBtn_Click());
    }
    umask(old);
    struct stat st {};
    ASSERT_EQ(stat(QFile::encodeName(SettingsFilePath()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(stored("KeepAll"), QStringLiteral("0"));

    resetProgram();
    LoadOptions();
    const Settings &s = program().settings;
    EXPECT_EQ(s.LocationName, QStringLiteral("Cold store"));
    EXPECT_EQ(s.CorF, QStringLiteral("F"));
    EXPECT_TRUE(s.SuppressScan);
    EXPECT_EQ(s.ColGrTh, 0x123456);
    EXPECT_EQ(s.MailPassword, QString());

    // An existing file made readable by others is private again after the next save.
    QFile::setPermissions(SettingsFilePath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    SaveWindowPositions();
    ASSERT_EQ(stat(QFile::encodeName(SettingsFilePath()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(stored("CorF"), QStringLiteral("F"));
}

TEST_F(OptionsTest, ColoursArePickedOrResetAndReachTheGridAndTheStore)
{
    int rebuilt = 0;
    Options w;
    w.setRebuildGrid([&] { ++rebuilt; });
    w.ColBx_DblClick(2);
    auto *dialog = w.findChild<QColorDialog *>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Select colour"));
    EXPECT_EQ(dialog->currentColor(), QColor(0xE2, 0x2B, 0x8A));
    dialog->setCurrentColor(QColor(0x10, 0x20, 0x30));
    dialog->accept();
    EXPECT_EQ(child<ColourBox>(w, "ColBx", 2)->colour(), 0x302010);
    ASSERT_TRUE(w.ApplyBtn_Click());
    EXPECT_EQ(stored("ColGrTp"), QStringLiteral("3153936"));
    EXPECT_EQ(rebuilt, 1);

    // The reset touches the colours only; edits waiting on the other tabs stay.
    child(w, "CoName")->setText(QStringLiteral("North wing"));
    click(w, "FahrenheitOpt");
    click(w, "ResetColBtn");
    EXPECT_EQ(program().settings.ColGrTp, 9055202);
    EXPECT_EQ(child<ColourBox>(w, "ColBx", 2)->colour(), 9055202);
    EXPECT_EQ(child(w, "CoName")->text(), QStringLiteral("North wing"));
    EXPECT_TRUE(child<QAbstractButton>(w, "FahrenheitOpt")->isChecked());
    EXPECT_EQ(program().settings.CorF, QStringLiteral("C"));
    EXPECT_EQ(rebuilt, 2);
    EXPECT_EQ(stored("ColGrTp"), QStringLiteral("3153936"));
    EXPECT_TRUE(child<QAbstractButton>(w, "ApplyBtn")->isEnabled());
}

TEST_F(OptionsTest, ApplyMovesTheNextHistoryTime)
{
    VirtualClock vc(QDateTime(QDate(2026, 3, 2), QTime(12, 0)));
    ScopedClock use(vc);
    Program &p = program();
    p.scanSlot = QDateTime(QDate(2026, 3, 2), QTime(11, 55));
    Options w;
    child(w, "DefaultIntBx")->setText(QStringLiteral("15"));
    ASSERT_TRUE(w.ApplyBtn_Click());
    EXPECT_EQ(p.nextScan, QDateTime(QDate(2026, 3, 2), QTime(12, 25)));
    EXPECT_EQ(p.scanSlot, QDateTime(QDate(2026, 3, 2), QTime(11, 55)));

    p.scanSlot = QDateTime(QDate(2026, 3, 2), QTime(10, 0));
    child(w, "DefaultIntBx")->setText(QStringLiteral("20"));
    ASSERT_TRUE(w.ApplyBtn_Click());
    EXPECT_EQ(p.nextScan, QDateTime(QDate(2026, 3, 2), QTime(12, 1)));
}

TEST_F(OptionsTest, ResetAlarmsAsksThenClearsEveryRow)
{
    Exec(QStringLiteral("INSERT INTO Sensors (SensorID, InAlarm, AlType, ConcAlarms, MailSent) VALUES "
                        "('28A1B2C3D4E5F60A', 1, 2, 3, 1), ('28A1B2C3D4E5F60C', 1, 9, 1, 0)"));
    const auto alarmed = [] {
        QSqlQuery q = Exec(QStringLiteral("SELECT sum(InAlarm) + sum(AlType) + sum(ConcAlarms) + sum(MailSent) FROM Sensors"));
        return q.next() ? q.value(0).toInt() : -1;
    };
    Options w;
    boxes.answers = {Answer::Cancel};
    click(w, "ResetAlBtn");
    EXPECT_EQ(alarmed(), 18);
    boxes.answers = {Answer::Ok};
    click(w, "ResetAlBtn");
    EXPECT_EQ(alarmed(), 0);
    ASSERT_EQ(boxes.boxes.size(), 2);
    EXPECT_EQ(boxes.boxes[0].title, QStringLiteral("Reset alarms"));
    EXPECT_EQ(boxes.boxes[0].text, QStringLiteral("Do you want to reset the alarm status of all sensors?"));
    EXPECT_EQ(boxes.boxes[0].buttons, Buttons::OkCancel);
}

TEST_F(OptionsTest, PortTestAnswersForEachPortText)
{
    NoRealPorts noPorts;
    SimProcess sim;
    ASSERT_TRUE(sim.started());
    sim.attachAsPort(2);
    const std::unique_ptr<SerialPort> port = MakeSerialPort();
    program().port = port.get();
    const struct
    {
        QString typed;
        QString answer;
        bool adapterOK;
    } cases[] = {
        {QStringLiteral("0"), QStringLiteral("Invalid port number"), false},
        {QStringLiteral("17"), QStringLiteral("Invalid port number"), false},
        {QStringLiteral("abc"), QStringLiteral("Invalid port number"), false},
        {QStringLiteral("2"), QStringLiteral("Varnex found"), true},
        {QStringLiteral("3"), QStringLiteral("Varnex not detected"), false},
    };
    Options w;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        program().adapterOK = !c.adapterOK;
        child(w, "PortNoBx")->setText(c.typed);
        click(w, "TestPbtn");
        EXPECT_FALSE(w.portTestRunning());
        EXPECT_EQ(child(w, "VarnexFoundBx")->text(), c.answer);
        EXPECT_EQ(program().adapterOK, c.adapterOK);
        EXPECT_TRUE(child<QAbstractButton>(w, "TestPbtn")->isEnabled());
    }
    // The tested port is taken for this run and stored with the next Apply only.
    EXPECT_EQ(program().settings.PortNumber, 3);
    EXPECT_EQ(stored("PortNumber"), QString());
}

TEST_F(OptionsTest, EveryFieldHasItsCaptionAndEveryButtonTheKeyboard)
{
    Options w;
    const auto *tabs = w.findChild<QTabWidget *>();
    ASSERT_EQ(tabs->count(), 4);
    const QStringList captions{QStringLiteral("General"), QStringLiteral("Logging and display"),
                               QStringLiteral("Alarm options"), QStringLiteral("Notifications")};
    const QStringList tips{QStringLiteral("General options"), QStringLiteral("Logging parameters and display colors"),
                           QStringLiteral("Alarm limits and mailing options"), QStringLiteral("Push notifications of alarms")};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(tabs->tabText(i), captions[i]);
        EXPECT_EQ(tabs->tabToolTip(i), tips[i]);
    }
    for (const QLineEdit *box : w.findChildren<QLineEdit *>())
        EXPECT_FALSE(box->accessibleName().isEmpty()) << box->objectName().toStdString();
    for (const QAbstractButton *b : w.findChildren<QAbstractButton *>()) {
        if (qobject_cast<QTabBar *>(b->parentWidget()))
            continue; // the tab bar's own scroll arrows
        EXPECT_TRUE(b->focusPolicy() & Qt::TabFocus) << b->objectName().toStdString();
        EXPECT_FALSE(b->objectName().isEmpty()) << b->text().toStdString();
    }
    EXPECT_EQ(w.findChildren<ColourBox *>().size(), 8);
    EXPECT_EQ(child(w, "MailSvrBx")->accessibleName(), QStringLiteral("Mail (SMTP) server"));
    EXPECT_EQ(child<QAbstractButton>(w, "ExitBtn")->text(), QStringLiteral("OK"));
    EXPECT_TRUE(program().optionsOpen);
}

TEST_F(OptionsTest, TestMailGoesOutWithTheAppliedServerOnly)
{
    SmtpServer server;
    ASSERT_TRUE(server.running());
    Options w;
    child(w, "EmailAddBx")->setText(QStringLiteral("ops@example.org"));
    child(w, "FromAddBx")->setText(QStringLiteral("clarow@example.org"));
    child(w, "MailSvrBx")->setText(QStringLiteral("127.0.0.1:9"));
    child(w, "SMTPportBx")->setText(QString::number(server.port()));
    EXPECT_FALSE(child<QAbstractButton>(w, "TestMailBtn")->isEnabled());
    ASSERT_TRUE(w.ApplyBtn_Click());
    ASSERT_TRUE(child<QAbstractButton>(w, "TestMailBtn")->isEnabled());
    click(w, "TestMailBtn");
    ASSERT_EQ(server.mails().size(), 1);
    EXPECT_EQ(server.mails()[0].recipients, QStringList{QStringLiteral("ops@example.org")});
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.boxes[0].text, QStringLiteral("A test message is being sent to ops@example.org."));
    EXPECT_EQ(boxes.boxes[0].title, QStringLiteral("Test message"));
}

// A screen reader toggles check boxes and option buttons without a mouse click: each must do
// exactly what a click does. Result boxes are read with the text they show.
TEST_F(OptionsTest, ChoicesToggledByAScreenReaderActAsClicked)
{
    Settings &s = program().settings;
    s.DateFormat = QStringLiteral("dd/MM/yyyy");
    s.TimeFormat = QStringLiteral("HH:mm");
    s.SendMailAlarm = true;
    const auto state = [](QWidget &w) {
        QStringList out;
        for (QWidget *c : w.findChildren<QWidget *>()) {
            if (c->objectName().isEmpty())
                continue;
            QString line = c->objectName() + c->property("index").toString() + (c->isEnabled() ? " on" : " off");
            if (auto *b = qobject_cast<QAbstractButton *>(c); b && b->isChecked())
                line += QStringLiteral(" checked");
            if (auto *e = qobject_cast<QLineEdit *>(c))
                line += QLatin1Char(' ') + e->text();
            out << line;
        }
        return out;
    };
    const auto choices = [](QWidget &w) {
        QList<QAbstractButton *> all = w.findChildren<QAbstractButton *>();
        all.removeIf([](QAbstractButton *b) { return !b->isCheckable() || b->objectName().isEmpty(); });
        return all;
    };
    for (qsizetype i = 0, n = 1; i < n; ++i) {
        Options clicked, toggled;
        n = choices(clicked).size();
        ASSERT_GE(n, 19);
        choices(clicked)[i]->click();
        ASSERT_TRUE(ToggleAsScreenReader(choices(toggled)[i]));
        EXPECT_EQ(state(toggled), state(clicked)) << choices(clicked)[i]->objectName().toStdString();
    }

    Options w;
    click(w, "TestDTbtn");
    child(w, "PortNoBx")->setText(QStringLiteral("0"));
    click(w, "TestPbtn");
    for (const char *result : {"TestDT", "VarnexFoundBx"}) {
        EXPECT_FALSE(child(w, result)->text().isEmpty()) << result;
        EXPECT_EQ(QAccessible::queryAccessibleInterface(child(w, result))->text(QAccessible::Value),
                  child(w, result)->text())
            << result;
    }
}

// Mail addresses that could carry a second address or an envelope parameter are refused on
// Apply with the box named and nothing stored, and by the test mail when they were stored
// before; the connection security is kept by its stored name.
TEST_F(OptionsTest, MailAddressesAreCheckedOnApplyAndTestMailAndTheSecurityChoiceIsKept)
{
    SaveOptions();
    const QByteArray before = settingsFile();
    struct Case
    {
        const char *box;
        QString typed;
        QString error; // empty: applies
    };
    const QString toError = QStringLiteral("Error 5.\rThe to address for email notifications cannot be used: ");
    const QString hint = QStringLiteral(" Several addresses are separated by \",\" or \";\".");
    const Case cases[] = {
        {"EmailAddBx", QStringLiteral("ops@example.com; a@example.com b@example.com"),
         toError + QStringLiteral("\"a@example.com b@example.com\" holds a blank.") + hint},
        {"FromAddBx", QStringLiteral("<me@example.com>>"),
         QStringLiteral("Error 5.\rThe from address for email notifications cannot be used: \"<me@example.com>>\" "
                        "holds \"<\" or \">\". It takes a single address.")},
        {"EmailAddBx", QStringLiteral("ops@example.com; Night Shift <night@example.com>;"), {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.box) + " = " + c.typed.toStdString());
        boxes.boxes.clear();
        Options w;
        child(w, c.box)->setText(c.typed);
        EXPECT_EQ(w.ApplyBtn_Click(), c.error.isEmpty());
        if (c.error.isEmpty()) {
            EXPECT_TRUE(boxes.boxes.isEmpty());
            continue;
        }
        ASSERT_EQ(boxes.boxes.size(), 1);
        EXPECT_EQ(boxes.boxes[0].text, c.error);
        EXPECT_EQ(settingsFile(), before);
        EXPECT_EQ(child(w, c.box)->text(), c.typed);
    }
    EXPECT_EQ(stored("MailAddress"), QStringLiteral("ops@example.com; Night Shift <night@example.com>;"));

    // An address stored before it was checked: the test mail names it and sends nothing.
    SmtpServer server;
    ASSERT_TRUE(server.running());
    Settings &s = program().settings;
    s.MailServer = QStringLiteral("127.0.0.1");
    s.MailPort = server.port();
    s.MailFrom = QStringLiteral("clarow@example.org");
    s.MailAddress = QStringLiteral("ops@example.org> NOTIFY=NEVER");
    {
        boxes.boxes.clear();
        Options w;
        click(w, "TestMailBtn");
        ASSERT_EQ(boxes.boxes.size(), 1);
        EXPECT_EQ(boxes.boxes[0].title, QStringLiteral("Test message"));
        EXPECT_TRUE(boxes.boxes[0].text.startsWith(
            QStringLiteral("The to address for email notifications cannot be used: \"ops@example.org> NOTIFY=NEVER\"")));
        EXPECT_TRUE(server.mails().isEmpty());
    }

    // The security choice: its caption, its stored name, and back in the box at the next opening.
    {
        Options w;
        auto *security = child<QComboBox>(w, "MailSecurityBx");
        ASSERT_NE(security, nullptr);
        EXPECT_EQ(security->accessibleName(), QStringLiteral("Connection security"));
        const QList<QLabel *> labels = w.findChildren<QLabel *>();
        EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [&](QLabel *l) { return l->buddy() == security; }));
        EXPECT_EQ(security->currentData().toString(), QStringLiteral("Auto"));
        child(w, "EmailAddBx")->setText(QStringLiteral("ops@example.org"));
        security->setCurrentIndex(security->findData(QStringLiteral("STARTTLS")));
        EXPECT_TRUE(child<QAbstractButton>(w, "ApplyBtn")->isEnabled());
        ASSERT_TRUE(w.ApplyBtn_Click());
    }
    EXPECT_EQ(stored("MailSecurity"), QStringLiteral("STARTTLS"));
    LoadOptions();
    Options again;
    EXPECT_EQ(child<QComboBox>(again, "MailSecurityBx")->currentData().toString(), QStringLiteral("STARTTLS"));
}

// The Notifications page: a wrong address is refused before anything is stored, a good one is
// stored in [Notify] by Apply, and Test shows what the receiver answered.
TEST_F(OptionsTest, NotificationsAreCheckedStoredAndTested)
{
    WebhookSink sink;
    ASSERT_TRUE(sink.running());
    Options w;
    auto *format = w.findChild<QComboBox *>(QStringLiteral("WebhookFormatBx"));
    ASSERT_NE(format, nullptr);
    child(w, "WebhookUrlBx")->setText(QStringLiteral("ftp://example.org/hook"));
    EXPECT_FALSE(w.ApplyBtn_Click());
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.boxes[0].title, QStringLiteral("Notifications"));
    EXPECT_EQ(stored("SendMailAlarm"), QString()); // nothing of the options was stored either

    child(w, "WebhookUrlBx")->setText(sink.url());
    format->setCurrentIndex(format->findData(QStringLiteral("ntfy")));
    child(w, "WebhookTokenBx")->setText(QStringLiteral("tk_1"));
    click(w, "TestWebhookBtn");
    EXPECT_EQ(child(w, "WebhookResultBx")->text(), QStringLiteral("Sent: the receiver answered HTTP 200."));
    ASSERT_EQ(sink.requests().size(), 1);
    EXPECT_EQ(sink.requests()[0].value(QStringLiteral("headers")).toObject().value(QStringLiteral("Authorization")).toString(),
              QStringLiteral("Bearer tk_1"));
    sink.failWith(502);
    click(w, "TestWebhookBtn");
    EXPECT_TRUE(child(w, "WebhookResultBx")->text().startsWith(QStringLiteral("Failed: The receiver answered HTTP 502")));

    ASSERT_TRUE(w.ApplyBtn_Click());
    QSettings store(QStringLiteral("Quillmark"), QStringLiteral("Quillmark"));
    EXPECT_EQ(store.value(QStringLiteral("Notify/WebhookUrl")).toString(), sink.url());
    EXPECT_EQ(store.value(QStringLiteral("Notify/WebhookFormat")).toString(), QStringLiteral("ntfy"));
    EXPECT_EQ(store.value(QStringLiteral("Notify/WebhookToken")).toString(), QStringLiteral("tk_1"));
}
