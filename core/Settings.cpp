#include "core/Settings.h"

#include "core/Errors.h"
#include "core/Helpers.h"
#include "core/Program.h"
#include "core/Prompter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>

#include <cmath>
#include <limits>
#include <optional>
#include <variant>

namespace clarow {

namespace {

// Error number of a settings store that cannot be written (path or file access error).
constexpr int kErrStoreAccess = 75;

using Field = std::variant<float Settings::*, qint32 Settings::*, qint16 Settings::*,
                           quint8 Settings::*, bool Settings::*, QString Settings::*>;

struct Key
{
    const char *name;
    const char *defaultText;
    Field field;
};

// Every key in the order LoadOptions reads it.
const Key kKeys[] = {
    {"LoggingInterval", "10", &Settings::LoggingInterval},
    {"ColAlarm", "8421631", &Settings::ColAlarm},
    {"ColOK", "8454016", &Settings::ColOK},
    {"CorF", "C", &Settings::CorF},
    {"SendMailAlarm", "0", &Settings::SendMailAlarm},
    {"SendMailRtn", "0", &Settings::SendMailRtn},
    {"SendMailWtr", "0", &Settings::SendMailWtr},
    {"SendMailLoT", "0", &Settings::SendMailLoT},
    {"SendMailHiT", "0", &Settings::SendMailHiT},
    {"SendMailLoCh2", "0", &Settings::SendMailLoCh2},
    {"SendMailHiCh2", "0", &Settings::SendMailHiCh2},
    {"DefLoT", "32", &Settings::DefLoT},
    {"DefHiT", "50", &Settings::DefHiT},
    {"DefLoCh2", "20", &Settings::DefLoCh2},
    {"DefHiCh2", "80", &Settings::DefHiCh2},
    {"KeepHours", "48", &Settings::KeepHours},
    {"DispHours", "48", &Settings::DispHours},
    {"KeepAll", "0", &Settings::KeepAll},
    {"LocationName", "", &Settings::LocationName},
    {"MinsConsecutive", "1", &Settings::MinsConsecutive},
    {"PortNumber", "1", &Settings::PortNumber},
    {"DateFormat", "Short Date", &Settings::DateFormat},
    {"TimeFormat", "Short Time", &Settings::TimeFormat},
    {"MailAddress", "", &Settings::MailAddress},
    {"MailServer", "", &Settings::MailServer},
    {"MailPort", "25", &Settings::MailPort},
    {"MailUser", "", &Settings::MailUser},
    {"MailPassword", "", &Settings::MailPassword},
    {"MailAuth", "0", &Settings::MailAuth},
    {"MailSecurity", "Auto", &Settings::MailSecurity},
    {"DefaultSensorLoc", "Sensor", &Settings::DefaultSensorLoc},
    {"MailFrom", "", &Settings::MailFrom},
    {"MailSubjectA", "", &Settings::MailSubjectA},
    {"MailSubjectR", "", &Settings::MailSubjectR},
    {"MailSubjectAddLocation", "0", &Settings::MailSubjectAddLocation},
    {"ColGrTp", "&H8A2BE2", &Settings::ColGrTp},
    {"ColGrTl", "&H87CEEB", &Settings::ColGrTl},
    {"ColGrTh", "&HFF0000", &Settings::ColGrTh},
    {"ColGrCp", "&H32CD32", &Settings::ColGrCp},
    {"ColGrCl", "&HEE82EE", &Settings::ColGrCl},
    {"ColGrCh", "&HDAA520", &Settings::ColGrCh},
    {"SuppressScan", "0", &Settings::SuppressScan},
    {"LogErrors", "0", &Settings::LogErrors},
    {"LogComms", "0", &Settings::LogComms},
    {"MdiLeft", "1000", &Settings::MdiLeft},
    {"MdiTop", "1000", &Settings::MdiTop},
    {"MdiWidth", "11280", &Settings::MdiWidth},
    {"MdiHeight", "8295", &Settings::MdiHeight},
    {"MdiState", "0", &Settings::MdiState},
    {"CfLeft", "100", &Settings::CfLeft},
    {"CfTop", "100", &Settings::CfTop},
    {"RpLeft", "300", &Settings::RpLeft},
    {"RpTop", "300", &Settings::RpTop},
    {"GrWidth", "8000", &Settings::GrWidth},
    {"GrHeight", "6000", &Settings::GrHeight},
};
constexpr int kKeyCount = sizeof kKeys / sizeof kKeys[0];
static_assert(kKeyCount == 55);
// LoggingInterval through LogComms are the option keys; the rest are window keys.
constexpr int kOptionKeyCount = 44;

const Key &keyNamed(const char *name)
{
    for (const Key &k : kKeys) {
        if (qstrcmp(k.name, name) == 0)
            return k;
    }
    Q_UNREACHABLE();
}

// Makes the folders of a path that are missing, each readable by its owner only; folders
// that are there already (the user's own configuration folder) keep their mode.
void makePrivateFolders(const QString &path)
{
    QStringList missing;
    for (QString folder = QDir(path).absolutePath(); !QFileInfo::exists(folder);) {
        missing.prepend(folder);
        const QString parent = QFileInfo(folder).absolutePath();
        if (parent == folder)
            break;
        folder = parent;
    }
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    for (const QString &folder : std::as_const(missing))
        (void)QDir().mkdir(folder, ownerOnly);
}

// The store holds the mail password: its file is kept readable by its owner only. A missing
// file is made private before anything is written into it; an existing one keeps its text.
void keepPrivate(const QString &path)
{
#ifdef Q_OS_UNIX
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    const QFileInfo info(path);
    if (info.exists()) {
        QFile::setPermissions(path, ownerOnly);
        return;
    }
    makePrivateFolders(info.absolutePath());
    QFile file(path);
    (void)file.open(QIODevice::WriteOnly, ownerOnly);
#else
    Q_UNUSED(path);
#endif
}

// A store file that others can read (made by hand, or by an older program) is made private as
// soon as the program starts, not only at its first save.
void tightenExisting(const QString &path)
{
#ifdef Q_OS_UNIX
    const QFileInfo info(path);
    const auto others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
                        | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    if (info.isFile() && (info.permissions() & others))
        QFile::setPermissions(path, info.permissions()
                                        & (QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
#else
    Q_UNUSED(path);
#endif
}

// The program's part of the per-user settings store.
class Store : public QSettings
{
public:
    Store() : QSettings(QStringLiteral("Quillmark"), QStringLiteral("Quillmark"))
    {
        beginGroup(QStringLiteral("ClarowMon"));
    }
    // Writes what was set to the store; the file is replaced as a whole and keeps its mode.
    void commit()
    {
        keepPrivate(fileName());
        sync();
        keepPrivate(fileName());
    }
};

// The stored text of a key, or its default when the key is missing. A hand-edited value
// with a comma and no quotes comes back from the file as a list; it is joined again.
QString storedText(const QSettings &store, const Key &key)
{
    const QVariant v = store.value(QLatin1String(key.name));
    if (!v.isValid())
        return QString::fromLatin1(key.defaultText);
    if (v.metaType().id() == QMetaType::QStringList)
        return v.toStringList().join(QStringLiteral(", "));
    return v.toString();
}

std::optional<double> wholeNumber(const QString &text, double low, double high)
{
    const double v = RoundHalfEven(LeadingNumber(text));
    if (!(v >= low && v <= high))
        return std::nullopt;
    return v;
}

std::optional<bool> flagValue(const QString &text)
{
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    if (IsNumeric(t))
        return LeadingNumber(t) != 0;
    return std::nullopt;
}

// Converts the text into the field; false (field untouched) when it does not convert.
bool assign(Settings &s, const Key &key, const QString &text)
{
    struct Visitor
    {
        Settings &s;
        const QString &text;
        bool operator()(float Settings::*f) const
        {
            const double v = LeadingNumber(text);
            if (!(std::fabs(v) <= std::numeric_limits<float>::max()))
                return false;
            s.*f = static_cast<float>(v);
            return true;
        }
        bool operator()(qint32 Settings::*f) const
        {
            const auto v = wholeNumber(text, -2147483648.0, 2147483647.0);
            if (v)
                s.*f = static_cast<qint32>(*v);
            return v.has_value();
        }
        bool operator()(qint16 Settings::*f) const
        {
            const auto v = wholeNumber(text, -32768.0, 32767.0);
            if (v)
                s.*f = static_cast<qint16>(*v);
            return v.has_value();
        }
        bool operator()(quint8 Settings::*f) const
        {
            const auto v = wholeNumber(text, 0.0, 255.0);
            if (v)
                s.*f = static_cast<quint8>(*v);
            return v.has_value();
        }
        bool operator()(bool Settings::*f) const
        {
            const auto v = flagValue(text);
            if (v)
                s.*f = *v;
            return v.has_value();
        }
        bool operator()(QString Settings::*f) const
        {
            s.*f = text;
            return true;
        }
    };
    return std::visit(Visitor{s, text}, key.field);
}

QString storeText(const Settings &s, const Key &key)
{
    struct Visitor
    {
        const Settings &s;
        bool keepAll;
        QString operator()(float Settings::*f) const { return SingleText(s.*f); }
        QString operator()(qint32 Settings::*f) const { return QString::number(s.*f); }
        QString operator()(qint16 Settings::*f) const { return QString::number(s.*f); }
        QString operator()(quint8 Settings::*f) const { return QString::number(s.*f); }
        QString operator()(bool Settings::*f) const
        {
            // KeepAll is kept as the integer form of a flag; the others as words.
            if (keepAll)
                return s.*f ? QStringLiteral("-1") : QStringLiteral("0");
            return s.*f ? QStringLiteral("True") : QStringLiteral("False");
        }
        QString operator()(QString Settings::*f) const { return s.*f; }
    };
    const bool keepAll = qstrcmp(key.name, "KeepAll") == 0;
    return std::visit(Visitor{s, keepAll}, key.field);
}

void write(QSettings &store, const Settings &s, const Key &key)
{
    // Always a plain string, so the file holds the text itself and never a typed value.
    store.setValue(QLatin1String(key.name), QVariant(storeText(s, key)));
}

} // namespace

void LoadOptions()
{
    Settings &s = program().settings;
    const Store store;
    tightenExisting(store.fileName());
    for (const Key &key : kKeys) {
        if (assign(s, key, storedText(store, key)))
            continue;
        MsgBox(QStringLiteral("Clarow has encountered an error loading its\roperational parameters."),
               QStringLiteral("Error loading options"), Buttons::Ok);
    }
}

bool SaveOptions()
{
    const Settings &s = program().settings;
    Store store;
    for (int i = 0; i < kOptionKeyCount; ++i) {
        const Key &key = kKeys[i];
        // The port goes in before the server it belongs to.
        if (qstrcmp(key.name, "MailServer") == 0) {
            write(store, s, keyNamed("MailPort"));
            write(store, s, key);
            continue;
        }
        if (qstrcmp(key.name, "MailPort") == 0)
            continue;
        write(store, s, key);
    }
    store.commit();
    if (store.status() != QSettings::NoError)
        throw ClarowError(kErrStoreAccess,
                          QStringLiteral("The settings could not be saved to ") + store.fileName() + '.');
    return true;
}

void SaveWindowPositions()
{
    const Settings &s = program().settings;
    Store store;
    for (int i = kOptionKeyCount; i < kKeyCount; ++i)
        write(store, s, kKeys[i]);
    store.commit();
}

bool MainWindowSizeIsDefault(const Settings &s)
{
    const bool storeDefault = s.MdiWidth == QByteArray(keyNamed("MdiWidth").defaultText).toInt()
                              && s.MdiHeight == QByteArray(keyNamed("MdiHeight").defaultText).toInt();
    const bool fallback = s.MdiWidth == kFallbackMdiWidth && s.MdiHeight == kFallbackMdiHeight;
    return storeDefault || fallback;
}

void SavePortNumber(int port)
{
    Settings &s = program().settings;
    s.PortNumber = static_cast<qint16>(port);
    Store store;
    write(store, s, keyNamed("PortNumber"));
    store.commit();
}

QString StoredPortDevice(int number)
{
    const QSettings store(QStringLiteral("Quillmark"), QStringLiteral("Quillmark"));
    return store.value(QStringLiteral("Ports/%1").arg(number)).toString();
}

void ApplyNameFallbacks(Settings &s)
{
    if (s.DefaultSensorLoc.isEmpty())
        s.DefaultSensorLoc = QStringLiteral("Unknown");
    if (s.LocationName.isEmpty())
        s.LocationName = QStringLiteral("Unknown Location");
}

} // namespace clarow
