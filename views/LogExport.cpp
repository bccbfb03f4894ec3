#include "views/LogExport.h"

#include "core/DateFormat.h"
#include "core/DiagnosticLog.h"
#include "core/Helpers.h"
#include "core/Prompter.h"
#include "link/Clock.h"

#include <QDir>
#include <QSaveFile>
#include <QStringEncoder>

#include <cmath>
#include <iterator>
#include <limits>

namespace clarow {

namespace {

void AppendQuotesDoubled(QString &out, QStringView text)
{
    for (QChar c : text) {
        if (c == QLatin1Char('"'))
            out += c;
        out += c;
    }
}

// text as a field of the file, appended to out: quoted, an embedded double quote written
// twice, always or when it holds the separator, a quote or a line break.
void AppendField(QString &out, QStringView text, QChar sep, bool always)
{
    bool quote = always;
    bool hasQuote = false;
    for (QChar c : text) {
        if (c == QLatin1Char('"'))
            hasQuote = quote = true;
        else if (c == sep || c == QLatin1Char('\r') || c == QLatin1Char('\n'))
            quote = true;
    }
    if (!quote) {
        out += text;
        return;
    }
    out += QLatin1Char('"');
    if (hasQuote)
        AppendQuotesDoubled(out, text);
    else
        out += text;
    out += QLatin1Char('"');
}

QString Quoted(const QString &text)
{
    QString out;
    AppendField(out, text, QChar(), true);
    return out;
}

// A number as it stands, or quoted when its regional text holds the separator (a decimal
// comma in a comma-separated file), so that it stays one field.
QString NumberField(const QString &text, QChar sep)
{
    QString out;
    AppendField(out, text, sep, false);
    return out;
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

// NumberField(Fixed(v, decimals, point), sep) appended to out. A reading is written from its
// whole number of hundredths (or units) digit by digit, which gives the same text as the
// rounding above without a text of its own for every reading.
void AppendFixedField(QString &out, float v, int decimals, QChar point, QChar sep)
{
    static constexpr double kScale[] = {1.0, 10.0, 100.0};
    const bool plain = decimals >= 0 && decimals <= 2;
    const double scaled = plain ? std::round(static_cast<double>(v) * kScale[decimals]) : 0.0;
    if (!plain || !(std::fabs(scaled) < 1e15)) { // no number, or far beyond any reading
        AppendField(out, Fixed(v, decimals, point), sep, false);
        return;
    }
    // Built from the last digit backwards.
    char16_t text[24];
    qsizetype start = std::size(text);
    auto units = static_cast<qint64>(std::fabs(scaled));
    for (int k = 0; k < decimals; ++k) {
        text[--start] = char16_t(u'0' + units % 10);
        units /= 10;
    }
    if (decimals > 0)
        text[--start] = point.unicode();
    do {
        text[--start] = char16_t(u'0' + units % 10);
        units /= 10;
    } while (units != 0);
    if (scaled < 0) // a reading that rounds to zero is written without a sign
        text[--start] = u'-';
    AppendField(out, QStringView(text + start, text + std::size(text)), sep, false);
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

namespace {

// The whole export written into out, which is handed to flush (to be emptied) each time it
// holds block characters or more after a line.
template <typename Flush>
void FormatExport(const LogData &data, const ExportHeader &h, QChar sep, const QLocale &locale, QString &out,
                  qsizetype block, Flush &&flush)
{
    const QString eol = QStringLiteral("\r\n");
    const QChar point = locale.decimalPoint().isEmpty() ? QLatin1Char('.') : locale.decimalPoint().at(0);
    const DateFormatter dateFmt(h.dateFormat, locale);
    const DateFormatter timeFmt(h.timeFormat, locale);
    const QString degrees = QStringLiteral("(\u00B0") + h.scale + QLatin1Char(')');

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
        // The date and time quoted as one field; a quote that a format writes is doubled.
        out += QLatin1Char('"');
        const qsizetype when = out.size();
        dateFmt.appendTo(out, p.Time);
        out += QLatin1Char(' ');
        timeFmt.appendTo(out, p.Time);
        if (QStringView(out).mid(when).contains(QLatin1Char('"'))) {
            const QString written = out.mid(when);
            out.truncate(when);
            AppendQuotesDoubled(out, written);
        }
        out += QLatin1Char('"');
        out += sep;
        AppendFixedField(out, p.Temp, 2, point, sep);
        if (h.kind.hasCh2) {
            out += sep;
            AppendFixedField(out, p.Ch2, ch2Decimals, point, sep);
        }
        if (h.kind.hasWater) {
            // A reading without a loaded water status is written empty, never as a status.
            const bool known = static_cast<size_t>(i) < data.WaterText.size();
            out += sep;
            AppendField(out, known ? QStringView(data.WaterText[static_cast<size_t>(i)]) : QStringView(), sep, true);
        }
        out += eol;
        if (out.size() >= block)
            flush(out);
    }
}

} // namespace

QString ExportText(const LogData &data, const ExportHeader &h, QChar sep, const QLocale &locale)
{
    QString out;
    out.reserve(128 + data.RecCount * 48);
    FormatExport(data, h, sep, locale, out, std::numeric_limits<qsizetype>::max(), [](QString &) {});
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
    // Formatted, encoded and written a block at a time through two buffers used over again,
    // not as one text of the whole history and then its encoded copy: fresh buffers of
    // megabytes cost more to map in than the rows in them take to format.
    constexpr qsizetype kBlock = 32 * 1024;
    QString text;
    text.reserve(kBlock + 1024);
    QByteArray bytes;
    QStringEncoder encode(QStringConverter::System);
    bool written = true;
    auto flush = [&](QString &block) {
        bytes.resize(encode.requiredSpace(block.size()));
        const qsizetype size = encode.appendToBuffer(bytes.data(), block) - bytes.constData();
        written = written && f.write(bytes.constData(), size) == size;
        block.resize(0);
    };
    FormatExport(data, header, separator, QLocale(), text, kBlock, flush);
    flush(text);
    if (!written)
        return fail();
    if (!f.commit()) {
        if (reason)
            *reason = f.errorString();
        return false;
    }
    return true;
}

} // namespace clarow
