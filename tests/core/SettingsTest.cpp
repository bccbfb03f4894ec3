#include "core/Errors.h"
#include "core/Program.h"
#include "core/Settings.h"

#include "tests/support/ScriptedPrompter.h"
#include "tests/support/TestHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace clarow;
using clarow::test::ScriptedPrompter;
using clarow::test::SettingsFilePath;
using clarow::test::TestHome;

namespace {

const QString kLoadError =
    QStringLiteral("Clarow has encountered an error loading its\roperational parameters.");

void store(std::initializer_list<std::pair<const char *, const char *>> values)
{
    QSettings s(QStringLiteral("Quillmark"), QStringLiteral("Quillmark"));
    s.beginGroup(QStringLiteral("ClarowMon"));
    for (const auto &[key, text] : values)
        s.setValue(QLatin1String(key), QString::fromUtf8(text));
    s.sync();
}

QString storedRaw(const char *key)
{
    QSettings s(QStringLiteral("Quillmark"), QStringLiteral("Quillmark"));
    return s.value(QStringLiteral("ClarowMon/") + QLatin1String(key)).toString();
}

QString settingsFileText()
{
    QFile f(SettingsFilePath());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll());
}

bool hasLine(const QString &fileText, const QString &line)
{
    return fileText.split(QLatin1Char('\n')).contains(line);
}

} // namespace

TEST(LoadOptions, EmptyStoreGivesEveryDefault)
{
    TestHome home(false);
    ScriptedPrompter prompter;
    LoadOptions();
    const Settings &s = program().settings;

    EXPECT_TRUE(prompter.boxes.isEmpty());
    EXPECT_EQ(s.LoggingInterval, 10.0f);
    EXPECT_EQ(s.ColAlarm, 8421631);
    EXPECT_EQ(s.ColOK, 8454016);
    EXPECT_EQ(s.CorF, QStringLiteral("C"));
    for (bool flag : {s.SendMailAlarm, s.SendMailRtn, s.SendMailWtr, s.SendMailLoT, s.SendMailHiT,
                      s.SendMailLoCh2, s.SendMailHiCh2, s.KeepAll, s.MailAuth,
                      s.MailSubjectAddLocation, s.SuppressScan, s.LogErrors, s.LogComms})
        EXPECT_FALSE(flag);
    EXPECT_EQ(s.DefLoT, 32.0f);
    EXPECT_EQ(s.DefHiT, 50.0f);
    EXPECT_EQ(s.DefLoCh2, 20.0f);
    EXPECT_EQ(s.DefHiCh2, 80.0f);
    EXPECT_EQ(s.KeepHours, 48);
    EXPECT_EQ(s.DispHours, 48);
    EXPECT_EQ(s.LocationName, QString());
    EXPECT_EQ(s.MinsConsecutive, 1);
    EXPECT_EQ(s.PortNumber, 1);
    EXPECT_EQ(s.DateFormat, QStringLiteral("Short Date"));
    EXPECT_EQ(s.TimeFormat, QStringLiteral("Short Time"));
    EXPECT_EQ(s.MailAddress, QString());
    EXPECT_EQ(s.MailServer, QString());
    EXPECT_EQ(s.MailPort, 25);
    EXPECT_EQ(s.MailUser, QString());
    EXPECT_EQ(s.MailPassword, QString());
    EXPECT_EQ(s.DefaultSensorLoc, QStringLiteral("Sensor"));
    EXPECT_EQ(s.MailFrom, QString());
    EXPECT_EQ(s.MailSubjectA, QString());
    EXPECT_EQ(s.MailSubjectR, QString());
    EXPECT_EQ(s.ColGrTp, 0x8A2BE2);
    EXPECT_EQ(s.ColGrTl, 0x87CEEB);
    EXPECT_EQ(s.ColGrTh, 0xFF0000);
    EXPECT_EQ(s.ColGrCp, 0x32CD32);
    EXPECT_EQ(s.ColGrCl, 0xEE82EE);
    EXPECT_EQ(s.ColGrCh, 0xDAA520);
    EXPECT_EQ(s.MdiLeft, 1000);
    EXPECT_EQ(s.MdiTop, 1000);
    EXPECT_EQ(s.MdiWidth, 11280);
    EXPECT_EQ(s.MdiHeight, 8295);
    EXPECT_EQ(s.MdiState, 0);
    EXPECT_EQ(s.CfLeft, 100);
    EXPECT_EQ(s.CfTop, 100);
    EXPECT_EQ(s.RpLeft, 300);
    EXPECT_EQ(s.RpTop, 300);
    EXPECT_EQ(s.GrWidth, 8000);
    EXPECT_EQ(s.GrHeight, 6000);
}

TEST(LoadOptions, FlagsReadWordsAndNumbersAndRefuseOtherText)
{
    TestHome home(false);
    store({{"SendMailAlarm", "-1"},
           {"SendMailRtn", "0"},
           {"SendMailWtr", "True"},
           {"SendMailLoT", "true"},
           {"SendMailHiT", "yes"},
           {"SendMailLoCh2", "FALSE"},
           {"SendMailHiCh2", "2"},
           {"MailAuth", ""}});
    ScriptedPrompter prompter;
    LoadOptions();
    const Settings &s = program().settings;

    EXPECT_TRUE(s.SendMailAlarm);
    EXPECT_FALSE(s.SendMailRtn);
    EXPECT_TRUE(s.SendMailWtr);
    EXPECT_TRUE(s.SendMailLoT);
    EXPECT_FALSE(s.SendMailHiT);
    EXPECT_FALSE(s.SendMailLoCh2);
    EXPECT_TRUE(s.SendMailHiCh2);
    EXPECT_FALSE(s.MailAuth);
    // "yes" and the empty text: one box each, and loading went on to the last key.
    ASSERT_EQ(prompter.boxes.size(), 2);
    for (const auto &box : prompter.boxes) {
        EXPECT_EQ(box.text, kLoadError);
        EXPECT_EQ(box.title, QStringLiteral("Error loading options"));
        EXPECT_EQ(box.buttons, Buttons::Ok);
    }
    EXPECT_EQ(s.GrHeight, 6000);
}

TEST(LoadOptions, NumbersTakeTheLeadingNumberAndCheckTheirRange)
{
    TestHome home(false);
    store({{"PortNumber", "40000"},
           {"MdiState", "256"},
           {"MinsConsecutive", "2.5"},
           {"DispHours", "3.5"},
           {"KeepHours", " 72 hours"},
           {"MailPort", "&H1D"},
           {"ColAlarm", "red"},
           {"LoggingInterval", "2.5"},
           {"DefLoT", "-5.25"}});
    ScriptedPrompter prompter;
    LoadOptions();
    const Settings &s = program().settings;

    EXPECT_EQ(prompter.boxes.size(), 2); // PortNumber and MdiState
    EXPECT_EQ(s.PortNumber, 0);
    EXPECT_EQ(s.MdiState, 0);
    EXPECT_EQ(s.MinsConsecutive, 2);
    EXPECT_EQ(s.DispHours, 4);
    EXPECT_EQ(s.KeepHours, 72);
    EXPECT_EQ(s.MailPort, 29);
    EXPECT_EQ(s.ColAlarm, 0);
    EXPECT_EQ(s.LoggingInterval, 2.5f);
    EXPECT_EQ(s.DefLoT, -5.25f);
}

TEST(LoadOptions, ReloadKeepsTheEarlierValueOfAFailedKey)
{
    TestHome home(false);
    store({{"PortNumber", "3"}, {"LogErrors", "True"}});
    ScriptedPrompter prompter;
    LoadOptions();
    EXPECT_EQ(program().settings.PortNumber, 3);

    store({{"PortNumber", "40000"}, {"LogErrors", "maybe"}, {"CorF", "F"}});
    LoadOptions();
    EXPECT_EQ(program().settings.PortNumber, 3);
    EXPECT_TRUE(program().settings.LogErrors);
    EXPECT_EQ(program().settings.CorF, QStringLiteral("F"));
    EXPECT_EQ(prompter.boxes.size(), 2);
}

TEST(SaveOptions, FlagsAreWordsExceptKeepAll)
{
    TestHome home(false);
    ScriptedPrompter prompter;
    LoadOptions();
    Settings &s = program().settings;
    for (bool *flag : {&s.SendMailAlarm, &s.SendMailRtn, &s.SendMailWtr, &s.SendMailLoT,
                       &s.SendMailHiT, &s.SendMailLoCh2, &s.SendMailHiCh2, &s.KeepAll, &s.MailAuth,
                       &s.MailSubjectAddLocation, &s.SuppressScan, &s.LogErrors, &s.LogComms})
        *flag = true;
    ASSERT_TRUE(SaveOptions());

    QString text = settingsFileText();
    EXPECT_TRUE(hasLine(text, QStringLiteral("KeepAll=-1"))) << qPrintable(text);
    for (const char *key : {"SendMailAlarm", "SendMailRtn", "SendMailWtr", "SendMailLoT",
                            "SendMailHiT", "SendMailLoCh2", "SendMailHiCh2", "MailAuth",
                            "MailSubjectAddLocation", "SuppressScan", "LogErrors", "LogComms"})
        EXPECT_TRUE(hasLine(text, QLatin1String(key) + QStringLiteral("=True"))) << key;

    s.KeepAll = false;
    s.LogComms = false;
    ASSERT_TRUE(SaveOptions());
    text = settingsFileText();
    EXPECT_TRUE(hasLine(text, QStringLiteral("KeepAll=0")));
    EXPECT_TRUE(hasLine(text, QStringLiteral("LogComms=False")));
    EXPECT_FALSE(text.contains(QStringLiteral("@Variant")));

    const Settings saved = s;
    s = Settings{};
    LoadOptions();
    EXPECT_EQ(program().settings, saved);
    EXPECT_TRUE(prompter.boxes.isEmpty());
}

TEST(SaveOptions, HexColourDefaultsAreWrittenBackInDecimal)
{
    TestHome home(false);
    ScriptedPrompter prompter;
    LoadOptions();
    EXPECT_EQ(program().settings.ColGrTp, 9055202);
    ASSERT_TRUE(SaveOptions());
    const QString text = settingsFileText();
    EXPECT_TRUE(hasLine(text, QStringLiteral("ColGrTp=9055202")));
    EXPECT_TRUE(hasLine(text, QStringLiteral("ColGrCh=14329120")));
    EXPECT_TRUE(hasLine(text, QStringLiteral("LoggingInterval=10")));
    EXPECT_TRUE(hasLine(text, QStringLiteral("MailPort=25")));
    // Only the option keys: window positions are written at close-down.
    EXPECT_FALSE(text.contains(QStringLiteral("MdiLeft")));
    EXPECT_FALSE(text.contains(QStringLiteral("GrHeight")));
}

TEST(SettingsStore, EverythingSurvivesARoundTripThroughTheFile)
{
    TestHome home(false);
    ScriptedPrompter prompter;
    LoadOptions();
    Settings &s = program().settings;
    s.LoggingInterval = 2.5f;
    s.DefLoT = -5.25f;
    s.DefHiT = 22.05f;
    s.ColAlarm = 255;
    s.CorF = QStringLiteral("F");
    s.LocationName = QStringLiteral("Plant 2; cold room = \"B\"");
    s.MailAddress = QStringLiteral("a@x, b@y");
    s.MailServer = QStringLiteral("smtp.example.org");
    s.MailPort = 587;
    s.MailPassword = QStringLiteral("@secret,1");
    s.MailSubjectA = QStringLiteral("Température haute");
    s.DateFormat = QStringLiteral("dd/MM/yyyy");
    s.PortNumber = 16;
    s.DispHours = -1;
    s.SuppressScan = true;
    s.ColGrTp = 0x123456;
    s.MdiState = 2;
    s.RpLeft = 1200;
    s.RpTop = 700;
    s.MdiWidth = 9000;
    ASSERT_TRUE(SaveOptions());
    SaveWindowPositions();
    EXPECT_FALSE(settingsFileText().contains(QStringLiteral("@Variant")));
    EXPECT_EQ(storedRaw("MailAddress"), QStringLiteral("a@x, b@y"));
    EXPECT_TRUE(hasLine(settingsFileText(), QStringLiteral("MailAddress=\"a@x, b@y\"")));

    const Settings saved = s;
    s = Settings{};
    LoadOptions();
    EXPECT_EQ(program().settings, saved);
    EXPECT_EQ(program().settings.MailAddress, QStringLiteral("a@x, b@y"));
    EXPECT_TRUE(prompter.boxes.isEmpty());
}

TEST(SettingsStore, HandEditedAddressListReadsAsOneText)
{
    TestHome home(false);
    {
        QDir().mkpath(QFileInfo(SettingsFilePath()).absolutePath());
        QFile f(SettingsFilePath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("[ClarowMon]\nMailAddress=a@x, b@y\nPortNumber=4\n");
    }
    // The file format itself splits such a value at the comma.
    ASSERT_EQ(QSettings(QStringLiteral("Quillmark"), QStringLiteral("Quillmark"))
                  .value(QStringLiteral("ClarowMon/MailAddress"))
                  .metaType()
                  .id(),
              QMetaType::QStringList);
    ScriptedPrompter prompter;
    LoadOptions();
    EXPECT_EQ(program().settings.MailAddress, QStringLiteral("a@x, b@y"));
    EXPECT_EQ(program().settings.PortNumber, 4);
}

TEST(SettingsStore, WindowPositionsAloneAndPortNumberAtOnce)
{
    TestHome home(false);
    ScriptedPrompter prompter;
    LoadOptions();
    program().settings.RpTop = 700;
    program().settings.LogErrors = true;
    SaveWindowPositions();
    QString text = settingsFileText();
    EXPECT_TRUE(hasLine(text, QStringLiteral("RpTop=700")));
    EXPECT_TRUE(hasLine(text, QStringLiteral("RpLeft=300")));
    EXPECT_FALSE(text.contains(QStringLiteral("LogErrors")));

    SavePortNumber(7);
    EXPECT_EQ(program().settings.PortNumber, 7);
    text = settingsFileText();
    EXPECT_TRUE(hasLine(text, QStringLiteral("PortNumber=7")));
    EXPECT_FALSE(text.contains(QStringLiteral("LogErrors")));

    program().settings = Settings{};
    LoadOptions();
    EXPECT_EQ(program().settings.RpTop, 700);
    EXPECT_EQ(program().settings.RpLeft, 300);
    EXPECT_EQ(program().settings.PortNumber, 7);
    EXPECT_FALSE(program().settings.LogErrors);
}

TEST(SaveOptions, StoreThatCannotBeWrittenIsReported)
{
    TestHome home(false);
    ScriptedPrompter prompter;
    LoadOptions();
    // A plain file where the store's folder belongs: nothing can be written there.
    const QString folder = QFileInfo(SettingsFilePath()).absolutePath();
    QDir(folder).removeRecursively();
    {
        QFile blocker(folder);
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    EXPECT_THROW(SaveOptions(), ClarowError);
    QFile::remove(folder);
}

// The store holds the mail password: from the start of the program its file is readable by
// its owner alone, and a folder the program makes for it is its owner's alone, whatever the
// umask; a folder that was there already keeps its mode.
TEST(SettingsStore, FileIsPrivateFromStartAndNewFolderOwnerOnly)
{
    TestHome home(false);
    ScriptedPrompter prompter;
    const mode_t oldMask = ::umask(022);
    const QString file = SettingsFilePath();
    const QString folder = QFileInfo(file).absolutePath();
    const QString parent = QFileInfo(folder).absolutePath();
    const auto openParent = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                            | QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
                            | QFileDevice::ExeOther;
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    const auto others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
                        | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    ASSERT_TRUE(QFile::setPermissions(parent, openParent));

    // A file left readable by everyone (by hand, or by an older program) is private once the
    // program has started, before any save, and keeps its text.
    store({{"PortNumber", "4"}});
    ASSERT_TRUE(QFile::setPermissions(file, ownerOnly | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    LoadOptions();
    EXPECT_EQ(program().settings.PortNumber, 4);
    EXPECT_EQ(QFileInfo(file).permissions() & (ownerOnly | others), ownerOnly);
    EXPECT_TRUE(hasLine(settingsFileText(), QStringLiteral("PortNumber=4")));

    // No folder yet: the first save makes it for its owner alone.
    ASSERT_TRUE(QDir(folder).removeRecursively());
    SaveOptions();
    ::umask(oldMask);
    EXPECT_EQ(QFileInfo(folder).permissions() & (others | QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                | QFileDevice::ExeOwner),
              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(QFileInfo(file).permissions() & (ownerOnly | others), ownerOnly);
    EXPECT_EQ(QFileInfo(parent).permissions() & (openParent | others), openParent);
}
