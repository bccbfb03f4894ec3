#include "core/Helpers.h"

#include "core/Errors.h"
#include "core/Program.h"
#include "link/Clock.h"

#include <QLocale>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <thread>

namespace clarow {

namespace {

bool isDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

bool isBlank(QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); }

int hexValue(QChar c)
{
    if (isDigit(c))
        return c.unicode() - '0';
    const char16_t u = c.toLower().unicode();
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    return -1;
}

// A number at the start of text (from position from): "&H" and hexadecimal digits, or an
// optional sign, digits with an optional "." and an optional exponent ("E" or "D"). Sets
// end to the position after the number; found is false when no digit was read.
struct Parsed
{
    double value = 0;
    qsizetype end = 0;
    bool found = false;
};

Parsed parseNumber(const QString &text, qsizetype from)
{
    Parsed r;
    r.end = from;
    const qsizetype n = text.size();
    qsizetype i = from;

    if (i + 1 < n && text.at(i) == QLatin1Char('&') && text.at(i + 1).toLower() == QLatin1Char('h')) {
        i += 2;
        double v = 0;
        bool any = false;
        for (; i < n && hexValue(text.at(i)) >= 0; ++i) {
            v = v * 16 + hexValue(text.at(i));
            any = true;
        }
        if (any) {
            r.value = v;
            r.end = i;
            r.found = true;
        }
        return r;
    }

    std::string digits;
    bool negative = false;
    if (i < n && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    bool any = false;
    for (; i < n && isDigit(text.at(i)); ++i) {
        digits += static_cast<char>(text.at(i).unicode());
        any = true;
    }
    if (i < n && text.at(i) == QLatin1Char('.')) {
        qsizetype j = i + 1;
        std::string frac;
        for (; j < n && isDigit(text.at(j)); ++j)
            frac += static_cast<char>(text.at(j).unicode());
        if (any || !frac.empty()) {
            digits += '.';
            digits += frac;
            any = true;
            i = j;
        }
    }
    if (!any)
        return r;
    // An exponent counts only when digits follow it.
    if (i < n) {
        const QChar e = text.at(i).toLower();
        if (e == QLatin1Char('e') || e == QLatin1Char('d')) {
            qsizetype j = i + 1;
            std::string exp = "e";
            if (j < n && (text.at(j) == QLatin1Char('+') || text.at(j) == QLatin1Char('-')))
                exp += static_cast<char>(text.at(j++).unicode());
            bool expDigits = false;
            for (; j < n && isDigit(text.at(j)); ++j) {
                exp += static_cast<char>(text.at(j).unicode());
                expDigits = true;
            }
            if (expDigits) {
                digits += exp;
                i = j;
            }
        }
    }
    if (digits.front() == '.')
        digits.insert(digits.begin(), '0');
    double v = 0;
    const auto res = std::from_chars(digits.data(), digits.data() + digits.size(), v);
    if (res.ec == std::errc::result_out_of_range)
        v = std::numeric_limits<double>::infinity();
    r.value = negative ? -v : v;
    r.end = i;
    r.found = true;
    return r;
}

// The value of a text that IsNumeric accepts.
double numericValue(const QString &text)
{
    const QString t = text.trimmed();
    return parseNumber(t, 0).value;
}

} // namespace

double RoundHalfEven(double v)
{
    if (!std::isfinite(v))
        return v;
    const double lower = std::floor(v);
    const double diff = v - lower;
    if (diff < 0.5)
        return lower;
    if (diff > 0.5)
        return lower + 1;
    return std::fmod(lower, 2.0) == 0 ? lower : lower + 1;
}

double LeadingNumber(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && isBlank(text.at(i)))
        ++i;
    return parseNumber(text, i).value;
}

bool IsNumeric(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return false;
    const Parsed p = parseNumber(t, 0);
    return p.found && p.end == t.size();
}

QString DateNumberText(const QDateTime &t)
{
    const double v = ToSerial(t);
    if (v == 0)
        return QStringLiteral("0");
    // Fixed notation with as many decimals as leave 15 significant digits; the trailing
    // zeros go, so midnight is the bare day number.
    const int intDigits = static_cast<int>(std::floor(std::log10(std::fabs(v)))) + 1;
    const int decimals = std::clamp(15 - intDigits, 0, 30);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    QString s = QString::fromLatin1(buf);
    if (s.contains(QLatin1Char('.'))) {
        while (s.endsWith(QLatin1Char('0')))
            s.chop(1);
        if (s.endsWith(QLatin1Char('.')))
            s.chop(1);
    }
    return s.left(12);
}

double NumOr(const QVariant &value, double fallback)
{
    if (!value.isValid() || value.isNull())
        return fallback;
    switch (value.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Double:
    case QMetaType::Float:
        return RoundHalfEven(value.toDouble());
    default:
        break;
    }
    const QString text = value.toString();
    if (!IsNumeric(text))
        return fallback;
    return RoundHalfEven(numericValue(text));
}

float TextToSingle(const QString &text)
{
    if (!IsNumeric(text))
        return 0;
    const QString t = text.trimmed();
    const qsizetype p = t.indexOf(QLatin1Char('.'));
    if (p < 0)
        return WholeNumber16(t);
    const QString wholeText = t.left(p);
    const bool negative = wholeText.startsWith(QLatin1Char('-'));
    const QString wholeDigits = wholeText.isEmpty() || wholeText == QLatin1String("-")
                                        || wholeText == QLatin1String("+")
                                    ? QStringLiteral("0")
                                    : wholeText;
    const double whole = std::fabs(static_cast<double>(WholeNumber16(wholeDigits)));
    // The fraction digits stop where an exponent begins ("1.5E2" is rare but numeric).
    qsizetype end = p + 1;
    while (end < t.size() && isDigit(t.at(end)))
        ++end;
    const QString fracText = t.mid(p + 1, end - p - 1);
    double frac = 0;
    if (!fracText.isEmpty())
        frac = parseNumber(fracText, 0).value / std::pow(10.0, static_cast<double>(fracText.size()));
    double value = whole + frac;
    if (end < t.size())
        value *= parseNumber(QStringLiteral("1") + t.mid(end), 0).value;
    return static_cast<float>(negative ? -value : value);
}

qint16 WholeNumber16(const QString &text)
{
    if (!IsNumeric(text))
        throw ClarowError(kErrTypeMismatch, QStringLiteral("Type mismatch"));
    const double v = RoundHalfEven(numericValue(text));
    if (!(v >= -32768.0 && v <= 32767.0))
        throw ClarowError(kErrOverflow, QStringLiteral("Overflow"));
    return static_cast<qint16>(v);
}

float SingleOf(const QString &text)
{
    QString t = text.trimmed();
    const QString mark = QLocale().decimalPoint();
    if (!IsNumeric(t) && mark != QLatin1String("."))
        t.replace(mark, QLatin1String("."));
    if (!IsNumeric(t))
        throw ClarowError(kErrTypeMismatch, QStringLiteral("Type mismatch"));
    const double v = numericValue(t);
    if (!(std::fabs(v) <= std::numeric_limits<float>::max()))
        throw ClarowError(kErrOverflow, QStringLiteral("Overflow"));
    return static_cast<float>(v);
}

QString SingleText(float v)
{
    if (v == 0)
        return QStringLiteral("0");
    if (!std::isfinite(v))
        return QString::number(static_cast<double>(v));
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
    if (res.ec != std::errc())
        return QString::number(static_cast<double>(v), 'g', 9);
    return QString::fromLatin1(buf, res.ptr - buf);
}

void RunWhileWaiting(const std::function<void()> &work, std::atomic<bool> &abort, double pauseSeconds)
{
    std::atomic<bool> done{false};
    std::thread worker([&work, &done] {
        work();
        done.store(true);
    });
    while (!done.load()) {
        if (program().closing)
            abort.store(true);
        Pause(pauseSeconds);
    }
    worker.join();
}

quint32 StoredColourToRgb(qint32 stored)
{
    const auto v = static_cast<quint32>(stored);
    return 0xFF000000u | ((v & 0xFFu) << 16) | (v & 0xFF00u) | ((v >> 16) & 0xFFu);
}

qint32 RgbToStoredColour(quint32 rgb)
{
    return static_cast<qint32>(((rgb >> 16) & 0xFFu) | (rgb & 0xFF00u) | ((rgb & 0xFFu) << 16));
}

} // namespace clarow
