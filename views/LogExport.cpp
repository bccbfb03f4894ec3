#include "views/LogExport.h"

#include "link/Clock.h"
#include "core/DateFormat.h"
#include "core/DiagnosticLog.h"
#include "core/Helpers.h"
#include "core/Prompter.h"

#include <QDir>
#include <QSaveFile>
#include <QStringEncoder>

#include <cmath>

namespace clarow {

namespace {

QString Quoted(const QString &text)
{
    QString t = text;
    t.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + t + QLatin1Char('"');
}

// A number as it stands, or quoted when its regional text holds the separator (a decimal
// comma in a comma-separated file), so that it stays one field.
QString NumberField(const QString &text, QChar sep)
{
    if (text.contains(sep) || text.contains(QLatin1Char('"')) || text.contains(QLatin1Char('\r'))
        || text.contains(QLatin1Char('\n')))
        return Quoted(text);
    return text;
}

// v with a fixed number of decimals, halves rounded away from zero.
QString Fixed(float v, int decimals, QChar point)
{
    const double scale = std::pow(10.0, decimals);
    const double rounded = std::round(static_cast<double>(v) * scale) / scale;
    QString s = QString::number(rounded == 0 ? 0.0 : rounded, 'f', decimals);
    if (point != QLatin1Char('.'))
        s.replace(QLatin1Char('.'), point);
    return s;
}

const QString kCsvFilter = QStringLiteral("Comma delinited text (*.csv)");
const QString kTxtFilter = QStringLiteral("Tab delinited text (*.txt)");

} // namespace

QStringList ExportFilters() { return {kCsvFilter, kTxtFilter}; }

QChar ExportSeparator(const QString &selectedFilter)
{
    return selectedFilter == kCsvFilter ? QLatin1Char(',') : QLatin1Char('\t');
}

QString ProposedExportName(const QString &sensorId, const QDate &today, const QString &dateFormat)
{
    const QString date = FormatDate(QDateTime(today, QTime(0, 0)), dateFormat);
    QString stamp;
    for (QChar c : date) {
        const char16_t u = c.unicode();
        if ((u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9'))
            stamp += c;
    }
    return sensorId.right(8) + QLatin1Char('_') + stamp;
}

QString PlainNumber(float v, const QLocale &locale)
{
    QString s = SingleText(v);
    const QString point = locale.decimalPoint();
    if (point != QLatin1String("."))
        s.replace(QLatin1Char('.'), point);
    return s;
}

QString ExportText(const LogData &data, const ExportHeader &h, QChar sep, const QLocale &locale)
{
    const QString eol = QStringLiteral("\r\n");
    const QChar point = locale.decimalPoint().isEmpty() ? QLatin1Char('.') : locale.decimalPoint().at(0);
    const DateFormatter dateFmt(h.dateFormat, locale);
    const DateFormatter timeFmt(h.timeFormat, locale);
    const QString degrees = QStringLiteral("(\u00B0") + h.scale + QLatin1Char(')');

    QString out;
    out.reserve(128 + data.RecCount * 48);
    out += Quoted(h.locationName) + sep + Quoted(dateFmt.format(QDateTime(h.today, QTime(0, 0)))) + eol;
    out += Quoted(QStringLiteral("Sensor ID")) + sep + Quoted(h.sensorId) + eol;
    out += Quoted(QStringLiteral("Sensor location")) + sep + Quoted(data.Location) + eol;
    out += Quoted(QStringLiteral("Low limit ") + degrees) + sep + NumberField(PlainNumber(data.TempLo, locale), sep) + eol;
    out += Quoted(QStringLiteral("High limit ") + degrees) + sep + NumberField(PlainNumber(data.TempHi, locale), sep) + eol;
    out += Quoted(QStringLiteral("Date, time")) + sep + Quoted(QStringLiteral("Temperature ") + degrees);
    if (h.kind.hasCh2)
        out += sep + Quoted(QLatin1String(h.kind.exportHeading));
    if (h.kind.hasWater)
        out += sep + Quoted(QStringLiteral("Water status"));
    out += eol;

    const int ch2Decimals = h.kind.exportDecimals;
    const qsizetype count = std::min<qsizetype>(data.RecCount, static_cast<qsizetype>(data.Points.size()));
    for (qsizetype i = 0; i < count; ++i) {
        const LogPoint &p = data.Points[static_cast<size_t>(i)];
        out += Quoted(dateFmt.format(p.Time) + QLatin1Char(' ') + timeFmt.format(p.Time)) + sep + NumberField(Fixed(p.Temp, 2, point), sep);
        if (h.kind.hasCh2)
            out += sep + NumberField(Fixed(p.Ch2, ch2Decimals, point), sep);
        if (h.kind.hasWater) {
            // A reading without a loaded water status is written empty, never as a status.
            const bool known = static_cast<size_t>(i) < data.WaterText.size();
            out += sep + Quoted(known ? data.WaterText[static_cast<size_t>(i)] : QString());
        }
        out += eol;
    }
    return out;
}

void ReportExportFailure(const QString &path, const QString &reason)
{
    WriteLog(QStringLiteral("Error exporting the data log to ") + path + QStringLiteral(": ") + reason);
    MsgBox(QStringLiteral("The data log could not be written to\r") + QDir::toNativeSeparators(path)
               + QStringLiteral("\r") + reason,
           QStringLiteral("Export failed"), Buttons::Ok, Icon::Exclamation);
}

bool WriteExport(const QString &path, const LogData &data, const ExportHeader &header, QChar separator,
                 QString *reason)
{
    // Written beside the old file and put in its place only when complete: a failed write
    // (full disk, no permission) leaves the old file as it was.
    QSaveFile f(path);
    auto fail = [&f, reason] {
        if (reason)
            *reason = f.errorString();
        f.cancelWriting();
        return false;
    };
    if (!f.open(QIODevice::WriteOnly))
        return fail();
    QStringEncoder encode(QStringConverter::System);
    const QByteArray bytes = encode(ExportText(data, header, separator));
    if (f.write(bytes) != bytes.size())
        return fail();
    if (!f.commit()) {
        if (reason)
            *reason = f.errorString();
        return false;
    }
    return true;
}

} // namespace clarow
