#include "views/LogExport.h"

#include "link/Clock.h"
#include "shell/DateFormat.h"
#include "shell/Helpers.h"

#include <QFile>
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

// The second channel's heading in the file.
QString Ch2Heading(const QString &type)
{
    if (type == QLatin1String("19") || type == QLatin1String("1E"))
        return QStringLiteral("Humidity, %");
    if (type == QLatin1String("1A"))
        return QStringLiteral("Voltage");
    if (type == QLatin1String("1B"))
        return QStringLiteral("Light");
    if (type == QLatin1String("1C"))
        return QStringLiteral("Amps");
    return {};
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
    out += Quoted(QStringLiteral("Low limit ") + degrees) + sep + PlainNumber(data.TempLo, locale) + eol;
    out += Quoted(QStringLiteral("High limit ") + degrees) + sep + PlainNumber(data.TempHi, locale) + eol;
    out += Quoted(QStringLiteral("Date, time")) + sep + Quoted(QStringLiteral("Temperature ") + degrees);
    if (h.kind.hasCh2)
        out += sep + Quoted(Ch2Heading(h.kind.type));
    if (h.kind.hasWater)
        out += sep + Quoted(QStringLiteral("Water status"));
    out += eol;

    const int ch2Decimals = h.kind.type == QLatin1String("1A") ? 2 : 0;
    const qsizetype count = std::min<qsizetype>(data.RecCount, static_cast<qsizetype>(data.Points.size()));
    for (qsizetype i = 0; i < count; ++i) {
        const LogPoint &p = data.Points[static_cast<size_t>(i)];
        out += Quoted(dateFmt.format(p.Time) + QLatin1Char(' ') + timeFmt.format(p.Time)) + sep + Fixed(p.Temp, 2, point);
        if (h.kind.hasCh2)
            out += sep + Fixed(p.Ch2, ch2Decimals, point);
        if (h.kind.hasWater) {
            const bool known = static_cast<size_t>(i) < data.WaterText.size();
            out += sep + Quoted(known ? data.WaterText[static_cast<size_t>(i)] : QStringLiteral("Fault"));
        }
        out += eol;
    }
    return out;
}

bool WriteExport(const QString &path, const LogData &data, const ExportHeader &header, QChar separator)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QStringEncoder encode(QStringConverter::System);
    const QByteArray bytes = encode(ExportText(data, header, separator));
    const bool ok = f.write(bytes) == bytes.size();
    f.close();
    return ok && f.error() == QFileDevice::NoError;
}

} // namespace clarow
