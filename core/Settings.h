#pragma once

#include <QString>

#include <cstdint>

namespace clarow {

// Every setting of the program, one field per key of the settings store, named by the key.
// Loaded at start-up by LoadOptions and read everywhere; written to the store only by
// SaveOptions, SaveWindowPositions and SavePortNumber.
struct Settings
{
    float LoggingInterval = 0;
    qint32 ColAlarm = 0;
    qint32 ColOK = 0;
    QString CorF;
    bool SendMailAlarm = false;
    bool SendMailRtn = false;
    bool SendMailWtr = false;
    bool SendMailLoT = false;
    bool SendMailHiT = false;
    bool SendMailLoCh2 = false;
    bool SendMailHiCh2 = false;
    float DefLoT = 0;
    float DefHiT = 0;
    float DefLoCh2 = 0;
    float DefHiCh2 = 0;
    qint32 KeepHours = 0;
    qint16 DispHours = 0;
    bool KeepAll = false;
    QString LocationName;
    qint16 MinsConsecutive = 0;
    qint16 PortNumber = 0;
    QString DateFormat;
    QString TimeFormat;
    QString MailAddress;
    QString MailServer;
    qint32 MailPort = 0;
    QString MailUser;
    QString MailPassword;
    bool MailAuth = false;
    QString MailSecurity; // "Auto", "STARTTLS", "TLS" or "None": how the mail connection is encrypted
    QString DefaultSensorLoc;
    QString MailFrom;
    QString MailSubjectA;
    QString MailSubjectR;
    bool MailSubjectAddLocation = false;
    qint32 ColGrTp = 0;
    qint32 ColGrTl = 0;
    qint32 ColGrTh = 0;
    qint32 ColGrCp = 0;
    qint32 ColGrCl = 0;
    qint32 ColGrCh = 0;
    bool SuppressScan = false;
    bool LogErrors = false;
    bool LogComms = false;
    qint32 MdiLeft = 0;
    qint32 MdiTop = 0;
    qint32 MdiWidth = 0;
    qint32 MdiHeight = 0;
    quint8 MdiState = 0;
    qint32 CfLeft = 0;
    qint32 CfTop = 0;
    qint32 RpLeft = 0;
    qint32 RpTop = 0;
    qint32 GrWidth = 0;
    qint32 GrHeight = 0;

    friend bool operator==(const Settings &, const Settings &) = default;
};

// Reads every key into program().settings, in the store's key order. A value that does not
// convert shows "Error loading options" (one box per failing key) and leaves that field as
// it was; loading goes on with the next key.
void LoadOptions();
// Writes the 44 option keys (LoggingInterval through LogComms). Throws ClarowError when the
// store cannot be written.
bool SaveOptions();
// The size a main window stored at zero size opens with.
inline constexpr qint32 kFallbackMdiWidth = 9000;
inline constexpr qint32 kFallbackMdiHeight = 6800;

// Writes the 11 window keys (MdiLeft through GrHeight).
void SaveWindowPositions();
// The main window's stored size is one the program chose (the store's default or the
// fall-back for a stored zero), not one the user gave it.
[[nodiscard]] bool MainWindowSizeIsDefault(const Settings &s);
// For this run only (the store keeps the empty texts): an empty DefaultSensorLoc becomes
// "Unknown" and an empty LocationName "Unknown Location".
void ApplyNameFallbacks(Settings &s);
// Sets PortNumber and writes that key alone, at once.
void SavePortNumber(int port);
// Key N of section [Ports] of the store ("" when not set): the device of port number N.
// The section lies beside the program's own, so that retyper sees the same ports.
[[nodiscard]] QString StoredPortDevice(int number);

} // namespace clarow
