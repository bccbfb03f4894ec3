#pragma once

#include <QDateTime>
#include <QString>

#include <array>
#include <optional>

namespace clarow {

struct Program;
struct Settings;

// What the Options window's controls hold, named after the controls. The window copies its
// controls into this record and back; every rule about the values lives here.
struct OptionsForm
{
    // General
    QString CoName;
    QString DefaultLoc;
    bool FahrenheitOpt = false;
    bool ShortDopt = true;
    QString CustDformat;
    bool ShortTopt = true;
    QString CustTformat;
    QString PortNoBx;
    bool AutoScanChk = true;
    // Logging and display
    QString Minutes;  // DefaultIntBx, first box
    QString Seconds;  // DefaultIntBx, second box (shown only)
    QString KeepDaysBx;
    QString KeepHrsBx;
    bool KeepAllChk = false;
    bool KeepBoxesEnabled = true;
    QString HistDaysBx;
    QString HistHrsBx;
    std::array<qint32, 8> ColBx{}; // grid normal, alarm; graph temperature and second channel
    bool LogErrors = false;        // chkDebug 0
    bool LogComms = false;         // chkDebug 1
    // Alarm options
    QString Llow;
    QString Lhigh;
    QString Hlow;
    QString Hhigh;
    QString NoConsecBx;
    bool SendMailChk = false;
    // The six switches under SendMailChk, enabled only while it is ticked.
    bool SendRTNchk = false;
    bool LowTempChk = false;
    bool HiTempChk = false;
    bool LoHuChk = false;
    bool HiHuChk = false;
    bool chkSmw = false;
    bool MailSwitchesEnabled = false;
    QString EmailAddBx;
    QString FromAddBx;
    QString SubjectAlarmBx;
    QString SubjectRTNbx;
    bool AddLocBx = false;
    QString MailSvrBx;
    QString SMTPportBx;
    bool AuthBx = false;
    QString UserNameBx;
    QString PwBx;
    QString MailSecurityBx = QStringLiteral("Auto"); // the stored text of the chosen MailSecurity

    friend bool operator==(const OptionsForm &, const OptionsForm &) = default;
};

inline constexpr const char *kShortDate = "Short Date";
inline constexpr const char *kShortTime = "Short Time";

// The controls as the settings show them. A MinsConsecutive of 0 becomes 1 in the settings.
[[nodiscard]] OptionsForm FillOptions(Settings &s);

// Takes the controls into the settings in the order the dialog applies them, and moves the
// next history time. All or nothing: a value that does not convert throws ClarowError and
// leaves the settings, the schedule and the form untouched. Boxes the rules correct (the
// logging interval, the consecutive count, the mail switches, the login boxes) are corrected
// in the form as well. Nothing is written to the store.
void ApplyOptions(OptionsForm &form, Program &p, const QDateTime &now);

// ApplyOptions, then SaveOptions. When the store cannot be written the settings in use and
// the schedule go back to what they were, the form is untouched, and the ClarowError is
// thrown on.
void ApplyAndSaveOptions(OptionsForm &form, Program &p, const QDateTime &now);

// Why the mail addresses cannot be used, for the user: the first unusable address of the
// "To" list or the "From" address, named with its box's caption; nothing when both can be.
// Empty boxes pass (the mail settings may be left incomplete).
[[nodiscard]] std::optional<QString> MailAddressProblem(const QString &to, const QString &from);

// The next history time after the options were applied: two intervals after the start of
// the current slot, or a minute from now when that has passed. An unstarted schedule (the
// monitoring window has not run yet) is left alone.
void RescheduleHistory(Program &p, float intervalMinutes, const QDateTime &now);

// The humidity or light limits on leaving their boxes: both within 0 to 100, and the low one
// never above the high one. The new text of the box that was left, or nothing when it stands.
[[nodiscard]] std::optional<QString> LeaveHumidityHigh(const QString &low, const QString &high);
[[nodiscard]] std::optional<QString> LeaveHumidityLow(const QString &low, const QString &high);

// Custom formats as typed by people used to other programs' letters, rewritten to the
// program's own: "hh:nn AM/PM" → "hh:mm am/pm", "hh:nn" → "HH:mm", "DD/mm/YYYY" → "dd/MM/yyyy".
[[nodiscard]] QString RewriteTimeFormat(const QString &format);
[[nodiscard]] QString RewriteDateFormat(const QString &format);
// The preview of the format test: the date, two blanks, the time.
[[nodiscard]] QString FormatPreview(const QDateTime &t, const QString &dateFormat, const QString &timeFormat);

// The port a port test may try: a whole number from 1 to 16.
[[nodiscard]] std::optional<int> PortToTest(const QString &text);

// The eight colours as a fresh installation has them, in ColBx order.
[[nodiscard]] std::array<qint32, 8> DefaultColours();
void SetDefaultColours(Settings &s);

// Every sensor out of alarm, its consecutive count and mail mark cleared.
void ResetAllAlarms();

} // namespace clarow
