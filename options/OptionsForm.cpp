#include "options/OptionsForm.h"

#include "monitor/MailTransport.h"

#include "core/Database.h"
#include "core/Errors.h"
#include "core/Helpers.h"
#include "core/Program.h"
#include "core/Settings.h"

#include "core/DateFormat.h"

#include <QLocale>

#include <cmath>
#include <limits>

namespace clarow {

namespace {

// Error number of a value the program cannot use (invalid procedure call or argument).
constexpr int kErrInvalidValue = 5;
constexpr float kDefaultInterval = 10;
constexpr int kDefaultMailPort = 25;
constexpr double kHumidityFloor = 0;
constexpr double kHumidityCeiling = 100;

// A whole number that must fit its setting's type.
template <typename T>
T fitting(double v)
{
    if (!(v >= static_cast<double>(std::numeric_limits<T>::min())
          && v <= static_cast<double>(std::numeric_limits<T>::max())))
        throw ClarowError(kErrOverflow, QStringLiteral("Overflow"));
    return static_cast<T>(v);
}

// Days and hours as one count of hours; empty or unreadable boxes count as 0.
double hoursOf(const QString &days, const QString &hours)
{
    return NumOr(days, 0) * 24 + NumOr(hours, 0);
}

QString numberText(double v) { return SingleText(static_cast<float>(v)); }

// The eight colours in ColBx order: grid normal and alarm, then the graph's temperature and
// second-channel plot, low and high limit.
void setColours(Settings &s, const std::array<qint32, 8> &c)
{
    s.ColOK = c[0];
    s.ColAlarm = c[1];
    s.ColGrTp = c[2];
    s.ColGrTl = c[3];
    s.ColGrTh = c[4];
    s.ColGrCp = c[5];
    s.ColGrCl = c[6];
    s.ColGrCh = c[7];
}

} // namespace

OptionsForm FillOptions(Settings &s)
{
    OptionsForm f;
    f.CoName = s.LocationName;
    f.DefaultLoc = s.DefaultSensorLoc;
    f.FahrenheitOpt = s.CorF == QLatin1String("F");
    f.CustDformat = s.DateFormat;
    f.ShortDopt = s.DateFormat == QLatin1String(kShortDate);
    f.CustTformat = s.TimeFormat;
    f.ShortTopt = s.TimeFormat == QLatin1String(kShortTime);
    f.PortNoBx = QString::number(s.PortNumber);
    f.AutoScanChk = !s.SuppressScan;

    const double minutes = std::floor(static_cast<double>(s.LoggingInterval));
    f.Minutes = QString::number(minutes, 'f', 0);
    f.Seconds = QString::number(std::lround((static_cast<double>(s.LoggingInterval) - minutes) * 60));
    f.KeepDaysBx = QString::number(s.KeepHours / 24);
    f.KeepHrsBx = QString::number(s.KeepHours % 24);
    f.KeepAllChk = s.KeepAll;
    f.KeepBoxesEnabled = !s.KeepAll;
    f.HistDaysBx = QString::number(s.DispHours / 24);
    f.HistHrsBx = QString::number(s.DispHours % 24);
    f.ColBx = {s.ColOK, s.ColAlarm, s.ColGrTp, s.ColGrTl, s.ColGrTh, s.ColGrCp, s.ColGrCl, s.ColGrCh};
    f.LogErrors = s.LogErrors;
    f.LogComms = s.LogComms;

    f.Llow = SingleText(s.DefLoT);
    f.Lhigh = SingleText(s.DefHiT);
    f.Hlow = SingleText(s.DefLoCh2);
    f.Hhigh = SingleText(s.DefHiCh2);
    if (s.MinsConsecutive == 0)
        s.MinsConsecutive = 1;
    f.NoConsecBx = QString::number(s.MinsConsecutive);

    // The per-kind switches show ticked only while mail on alarm is on at all.
    const bool on = s.SendMailAlarm;
    f.SendMailChk = on;
    f.MailSwitchesEnabled = on;
    f.SendRTNchk = on && s.SendMailRtn;
    f.LowTempChk = on && s.SendMailLoT;
    f.HiTempChk = on && s.SendMailHiT;
    f.LoHuChk = on && s.SendMailLoCh2;
    f.HiHuChk = on && s.SendMailHiCh2;
    f.chkSmw = on && s.SendMailWtr;

    f.EmailAddBx = s.MailAddress;
    f.FromAddBx = s.MailFrom;
    f.SubjectAlarmBx = s.MailSubjectA;
    f.SubjectRTNbx = s.MailSubjectR;
    f.AddLocBx = s.MailSubjectAddLocation;
    f.MailSvrBx = s.MailServer;
    f.SMTPportBx = QString::number(s.MailPort);
    f.AuthBx = s.MailAuth;
    f.UserNameBx = s.MailAuth ? s.MailUser : QString();
    f.PwBx = s.MailAuth ? s.MailPassword : QString();
    f.MailSecurityBx = MailSecurityText(MailSecurityFromText(s.MailSecurity));
    return f;
}

std::optional<QString> MailAddressProblem(const QString &to, const QString &from)
{
    const QString hint = QStringLiteral(" Several addresses are separated by \",\" or \";\".");
    const CheckedAddresses list = CheckAddressList(to);
    if (!list.refused.isEmpty())
        return QStringLiteral("The to address for email notifications cannot be used: ") + list.refused.first()
               + QLatin1Char('.') + hint;
    if (from.trimmed().isEmpty())
        return std::nullopt;
    if (const QString problem = EnvelopeAddressProblem(from); !problem.isEmpty())
        return QStringLiteral("The from address for email notifications cannot be used: \"") + from.trimmed()
               + QStringLiteral("\" ") + problem + QStringLiteral(". It takes a single address.");
    return std::nullopt;
}

void RescheduleHistory(Program &p, float intervalMinutes, const QDateTime &now)
{
    if (!p.scanSlot.isValid())
        return;
    const qint64 intervalMs = std::llround(static_cast<double>(intervalMinutes) * 60000.0);
    const QDateTime next = p.scanSlot.addMSecs(2 * intervalMs);
    p.nextScan = next < now ? now.addSecs(60) : next;
}

void ApplyOptions(OptionsForm &form, Program &p, const QDateTime &now)
{
    // Everything is taken into copies first: a box that does not convert leaves the settings
    // in use, the history schedule and the boxes as they were. A half-taken Apply would have
    // scans store another scale or drop alarm mail until the next start.
    OptionsForm f = form;
    Settings s = p.settings;
    s.LocationName = f.CoName;
    s.DefaultSensorLoc = f.DefaultLoc;
    s.CorF = f.FahrenheitOpt ? QStringLiteral("F") : QStringLiteral("C");

    // Turning mail off keeps the per-kind choices for the day it is turned on again.
    s.SendMailAlarm = f.SendMailChk;
    if (f.SendMailChk) {
        s.SendMailRtn = f.SendRTNchk;
        s.SendMailWtr = f.chkSmw;
        s.SendMailLoT = f.LowTempChk;
        s.SendMailHiT = f.HiTempChk;
        s.SendMailLoCh2 = f.LoHuChk;
        s.SendMailHiCh2 = f.HiHuChk;
    } else {
        f.SendRTNchk = f.chkSmw = f.LowTempChk = f.HiTempChk = f.LoHuChk = f.HiHuChk = false;
        f.MailSwitchesEnabled = false;
    }

    s.DefLoT = SingleOf(f.Llow);
    s.DefHiT = SingleOf(f.Lhigh);
    s.DefLoCh2 = SingleOf(f.Hlow);
    s.DefHiCh2 = SingleOf(f.Hhigh);

    const double minutes = LeadingNumber(f.Minutes);
    if (minutes >= 1) {
        if (!(minutes <= std::numeric_limits<float>::max()))
            throw ClarowError(kErrOverflow, QStringLiteral("Overflow"));
        s.LoggingInterval = static_cast<float>(std::floor(minutes));
    } else {
        s.LoggingInterval = kDefaultInterval;
        f.Minutes = QStringLiteral("10");
    }

    if (LeadingNumber(f.NoConsecBx) == 0)
        f.NoConsecBx = QStringLiteral("1");
    s.MinsConsecutive = WholeNumber16(f.NoConsecBx);

    s.KeepAll = f.KeepAllChk;
    s.KeepHours = fitting<qint32>(hoursOf(f.KeepDaysBx, f.KeepHrsBx));
    s.DispHours = fitting<qint16>(hoursOf(f.HistDaysBx, f.HistHrsBx));
    s.PortNumber = fitting<qint16>(NumOr(f.PortNoBx, 1));

    s.DateFormat = f.CustDformat;
    s.TimeFormat = f.CustTformat;
    // Neither address is taken while one of them could carry a second address or an
    // envelope parameter to the mail server.
    if (const auto problem = MailAddressProblem(f.EmailAddBx, f.FromAddBx))
        throw ClarowError(kErrInvalidValue, *problem);
    s.MailAddress = f.EmailAddBx;
    // A port typed after the server name is not taken from there; the port box says it.
    s.MailServer = f.MailSvrBx.section(QLatin1Char(':'), 0, 0);
    s.MailPort = IsNumeric(f.SMTPportBx) ? fitting<qint32>(NumOr(f.SMTPportBx, kDefaultMailPort))
                                         : kDefaultMailPort;
    s.SuppressScan = !f.AutoScanChk;

    s.MailAuth = f.AuthBx;
    s.MailSecurity = MailSecurityText(MailSecurityFromText(f.MailSecurityBx));
    if (f.AuthBx) {
        s.MailUser = f.UserNameBx;
        s.MailPassword = f.PwBx;
    } else {
        s.MailUser.clear();
        s.MailPassword.clear();
        f.UserNameBx.clear();
        f.PwBx.clear();
    }

    setColours(s, f.ColBx);

    s.MailFrom = f.FromAddBx;
    s.MailSubjectA = f.SubjectAlarmBx;
    s.MailSubjectR = f.SubjectRTNbx;
    s.MailSubjectAddLocation = f.AddLocBx;
    s.LogErrors = f.LogErrors;
    s.LogComms = f.LogComms;

    p.settings = std::move(s);
    form = std::move(f);
    RescheduleHistory(p, p.settings.LoggingInterval, now);
}

void ApplyAndSaveOptions(OptionsForm &form, Program &p, const QDateTime &now)
{
    const Settings before = p.settings;
    const QDateTime nextScanBefore = p.nextScan;
    OptionsForm f = form;
    ApplyOptions(f, p, now);
    try {
        SaveOptions();
    } catch (...) {
        // Settings in use that the store does not hold would be gone at the next start.
        p.settings = before;
        p.nextScan = nextScanBefore;
        throw;
    }
    form = std::move(f);
}

namespace {
// A humidity or light limit within 0 to 100: its value, and its new text when it was outside.
std::optional<QString> withinPercent(const QString &text, double &v)
{
    v = LeadingNumber(text);
    if (v > kHumidityCeiling) {
        v = kHumidityCeiling;
        return QStringLiteral("100");
    }
    if (v < kHumidityFloor) {
        v = kHumidityFloor;
        return QStringLiteral("0");
    }
    return std::nullopt;
}
} // namespace

std::optional<QString> LeaveHumidityHigh(const QString &low, const QString &high)
{
    double v = 0;
    std::optional<QString> text = withinPercent(high, v);
    const double l = LeadingNumber(low);
    if (l > v)
        text = numberText(l);
    return text;
}

std::optional<QString> LeaveHumidityLow(const QString &low, const QString &high)
{
    double v = 0;
    std::optional<QString> text = withinPercent(low, v);
    const double h = LeadingNumber(high);
    if (v > h)
        text = numberText(h);
    return text;
}

QString RewriteTimeFormat(const QString &format)
{
    QString t = format.trimmed();
    // Read from the end, so that a 12-hour marker after the hours is seen before them.
    bool twelveHour = false;
    for (qsizetype i = t.size() - 1; i >= 0; --i) {
        const QChar c = t.at(i);
        if (c == QLatin1Char('A')) {
            t[i] = QLatin1Char('a');
            twelveHour = true;
        } else if (c == QLatin1Char('a')) {
            twelveHour = true;
        } else if (c == QLatin1Char('P')) {
            t[i] = QLatin1Char('p');
        } else if (c == QLatin1Char('n') || c == QLatin1Char('N') || c == QLatin1Char('M')) {
            t[i] = QLatin1Char('m');
        } else if (c == QLatin1Char('h') && !twelveHour) {
            t[i] = QLatin1Char('H');
        } else if (c == QLatin1Char('H') && twelveHour) {
            t[i] = QLatin1Char('h');
        }
    }
    return t;
}

QString RewriteDateFormat(const QString &format)
{
    QString t = format.trimmed();
    for (QChar &c : t) {
        if (c == QLatin1Char('m'))
            c = QLatin1Char('M');
        else if (c == QLatin1Char('D'))
            c = QLatin1Char('d');
        else if (c == QLatin1Char('Y'))
            c = QLatin1Char('y');
    }
    return t;
}

QString FormatPreview(const QDateTime &t, const QString &dateFormat, const QString &timeFormat)
{
    return FormatDate(t, dateFormat) + QStringLiteral("  ") + FormatDate(t, timeFormat);
}

std::optional<int> PortToTest(const QString &text)
{
    if (!IsNumeric(text))
        return std::nullopt;
    const double v = LeadingNumber(text.trimmed());
    if (v != std::floor(v) || v < 1 || v > 16)
        return std::nullopt;
    return static_cast<int>(v);
}

std::array<qint32, 8> DefaultColours()
{
    return {8454016, 8421631, 9055202, 8900331, 16711680, 3329330, 15631086, 14329120};
}

void SetDefaultColours(Settings &s)
{
    setColours(s, DefaultColours());
}

void ResetAllAlarms()
{
    Exec(QStringLiteral("UPDATE Sensors SET InAlarm = 0, AlType = 0, ConcAlarms = 0, MailSent = 0"));
}

} // namespace clarow
