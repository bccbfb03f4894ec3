#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace clarow {

class MailTransport;
struct Settings;

// Composes and sends the alarm and return-to-normal mail for every sensor that qualifies,
// and marks the rows once the server has accepted the mail. Never throws; failures go to
// the diagnostic log when LogErrors is on.
void CheckAlarms();
void CheckAlarms(MailTransport &transport);

// Sends the fixed test message of the Options dialog.
void TestMail();
void TestMail(MailTransport &transport);

// What the mail needs of one row of Sensors. Empty columns stay empty: an empty limit is
// never crossed, an empty flag is neither true nor false.
struct MailRow
{
    QString sensorId;
    QString location;
    std::optional<bool> inAlarm;
    std::optional<bool> connected;
    std::optional<bool> mailSent;
    std::optional<int> alType;
    std::optional<int> mailedAlType; // the alarm the last alarm mail listed
    std::optional<float> cTmp;
    std::optional<float> aTempHi;
    std::optional<float> aTempLo;
    std::optional<float> cCh2;
    std::optional<float> aCh2Hi;
    std::optional<float> aCh2Lo;
    std::optional<int> wStatus;
};

// The mail of one CheckAlarms run and the rows it lists.
struct AlarmMailText
{
    QString subject;
    QString body;
    int alarmCount = 0;
    int returnCount = 0;
    QStringList alarmIds;       // to be marked MailSent once the mail went out
    QStringList returnIds;      // to be marked not MailSent once the mail went out
    QStringList reconnectedIds; // return rows whose mailed alarm was the disconnected one
};

// Both passes over the rows, in their stored order: the alarm section first, then the
// sensors back to normal.
[[nodiscard]] AlarmMailText ComposeAlarmMail(const QList<MailRow> &rows, const Settings &settings);
// The block of a sensor in alarm, and of one back to normal (each line ended by CR LF).
[[nodiscard]] QString AlarmBlock(const MailRow &row);
[[nodiscard]] QString ReturnBlock(const MailRow &row);

// The log entry of a failed mail: "Error #" + number + " " + description, and for a failed
// exchange with the server the two diagnostic texts under "SMTP Info".
[[nodiscard]] QString MailErrorText(int number, const QString &description, const QString &serverReply,
                                    const QString &libraryError);

} // namespace clarow
