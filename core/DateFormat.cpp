#include "core/DateFormat.h"

#include <cmath>

namespace clarow {

namespace {

// v in decimal, with leading zeros up to width digits, appended without a text of its own
// (a log of thousands of rows writes many). A negative v (a year before 1 AD) keeps the
// sign in front of the zeros.
void appendNumber(QString &out, int v, int width)
{
    if (v < 0) {
        out += QStringLiteral("%1").arg(v, width, 10, QLatin1Char('0'));
        return;
    }
    char16_t digits[12];
    int n = 0;
    do {
        digits[n++] = char16_t(u'0' + v % 10);
        v /= 10;
    } while (v != 0);
    for (int k = n; k < width; ++k)
        out += QLatin1Char('0');
    while (n > 0)
        out += QChar(digits[--n]);
}

// How many times the letter c repeats from position i (case ignored), at most max.
int run(const QString &s, qsizetype i, char16_t c, int max)
{
    int n = 0;
    while (i + n < s.size() && n < max && s.at(i + n).toLower().unicode() == c)
        ++n;
    return n;
}

bool startsWithAt(const QString &s, qsizetype i, QLatin1String what)
{
    return s.mid(i, what.size()).compare(what, Qt::CaseInsensitive) == 0;
}

} // namespace

DateFormatter::DateFormatter(const QString &format, const QLocale &locale)
    : m_locale(locale)
{
    const QString f = format.trimmed();
    for (int m = 1; m <= 12; ++m) {
        m_monthShort << locale.monthName(m, QLocale::ShortFormat);
        m_monthLong << locale.monthName(m, QLocale::LongFormat);
    }
    for (int d = 1; d <= 7; ++d) {
        m_dayShort << locale.dayName(d, QLocale::ShortFormat);
        m_dayLong << locale.dayName(d, QLocale::LongFormat);
    }
    auto named = [&](const QString &pattern) { m_tokens.push_back({Kind::NamedDate, pattern}); };
    auto namedTime = [&](const QString &pattern) { m_tokens.push_back({Kind::NamedTime, pattern}); };
    if (f.compare(QLatin1String("General Date"), Qt::CaseInsensitive) == 0)
        m_tokens.push_back({Kind::General, {}});
    else if (f.compare(QLatin1String("Long Date"), Qt::CaseInsensitive) == 0)
        named(locale.dateFormat(QLocale::LongFormat));
    else if (f.compare(QLatin1String("Medium Date"), Qt::CaseInsensitive) == 0)
        named(QStringLiteral("dd-MMM-yy"));
    else if (f.compare(QLatin1String("Short Date"), Qt::CaseInsensitive) == 0)
        named(locale.dateFormat(QLocale::ShortFormat));
    else if (f.compare(QLatin1String("Long Time"), Qt::CaseInsensitive) == 0)
        namedTime(locale.timeFormat(QLocale::LongFormat));
    else if (f.compare(QLatin1String("Medium Time"), Qt::CaseInsensitive) == 0)
        namedTime(QStringLiteral("hh:mm AP"));
    else if (f.compare(QLatin1String("Short Time"), Qt::CaseInsensitive) == 0)
        namedTime(QStringLiteral("HH:mm"));
    else
        parse(format);
    for (const Token &tok : m_tokens) {
        switch (tok.kind) {
        case Kind::Day:
        case Kind::Day2:
        case Kind::Month:
        case Kind::Month2:
        case Kind::MonthShort:
        case Kind::MonthLong:
        case Kind::Year2:
        case Kind::Year4:
        case Kind::Quarter:
            m_splitsDate = true;
            break;
        default:
            break;
        }
    }
}

void DateFormatter::parse(const QString &f)
{
    auto literal = [this](const QString &text) {
        if (!m_tokens.empty() && m_tokens.back().kind == Kind::Literal)
            m_tokens.back().text += text;
        else
            m_tokens.push_back({Kind::Literal, text});
    };
    // The last token that was not a literal: an "m" right after an hour means minutes.
    auto lastField = [this]() -> Kind {
        for (auto it = m_tokens.rbegin(); it != m_tokens.rend(); ++it) {
            if (it->kind != Kind::Literal)
                return it->kind;
        }
        return Kind::Literal;
    };
    // An "m" right before seconds (literals between allowed) means minutes too.
    auto secondsFollow = [&f](qsizetype i) {
        for (; i < f.size(); ++i) {
            const char16_t c = f.at(i).toLower().unicode();
            if (c == u's')
                return true;
            if (QChar(c).isLetter())
                return false;
        }
        return false;
    };

    qsizetype i = 0;
    while (i < f.size()) {
        const QChar ch = f.at(i);
        const char16_t c = ch.toLower().unicode();
        if (ch == QLatin1Char('"')) {
            const qsizetype end = f.indexOf(QLatin1Char('"'), i + 1);
            const qsizetype stop = end < 0 ? f.size() : end;
            literal(f.mid(i + 1, stop - i - 1));
            i = stop + 1;
            continue;
        }
        if (ch == QLatin1Char('\\')) {
            if (i + 1 < f.size())
                literal(f.mid(i + 1, 1));
            i += 2;
            continue;
        }
        for (QLatin1String marker : {QLatin1String("am/pm"), QLatin1String("a/p"), QLatin1String("ampm")}) {
            if (startsWithAt(f, i, marker)) {
                m_tokens.push_back({Kind::Marker, f.mid(i, marker.size())});
                m_twelveHour = true;
                i += marker.size();
                goto next;
            }
        }
        switch (c) {
        case u'd': {
            const int n = run(f, i, u'd', 4);
            const Kind k[] = {Kind::Day, Kind::Day2, Kind::DayShort, Kind::DayLong};
            m_tokens.push_back({k[n - 1], {}});
            i += n;
            break;
        }
        case u'm': {
            const int n = run(f, i, u'm', 4);
            const Kind last = lastField();
            const bool minutes = n <= 2
                && (last == Kind::Hour || last == Kind::Hour2 || secondsFollow(i + n));
            if (minutes)
                m_tokens.push_back({n == 1 ? Kind::Minute : Kind::Minute2, {}});
            else {
                const Kind k[] = {Kind::Month, Kind::Month2, Kind::MonthShort, Kind::MonthLong};
                m_tokens.push_back({k[n - 1], {}});
            }
            i += n;
            break;
        }
        case u'y': {
            const int n = run(f, i, u'y', 4);
            if (n == 1)
                m_tokens.push_back({Kind::DayOfYear, {}});
            else if (n < 4)
                m_tokens.push_back({Kind::Year2, {}});
            else
                m_tokens.push_back({Kind::Year4, {}});
            i += n == 3 ? 2 : n;
            break;
        }
        case u'h':
        case u'n':
        case u's': {
            const int n = run(f, i, c, 2);
            const Kind one = c == u'h' ? Kind::Hour : c == u'n' ? Kind::Minute : Kind::Second;
            const Kind two = c == u'h' ? Kind::Hour2 : c == u'n' ? Kind::Minute2 : Kind::Second2;
            m_tokens.push_back({n == 1 ? one : two, {}});
            i += n;
            break;
        }
        case u'q':
            m_tokens.push_back({Kind::Quarter, {}});
            ++i;
            break;
        default:
            literal(QString(ch));
            ++i;
            break;
        }
    next:;
    }
}

QString DateFormatter::format(double serial) const
{
    QString out;
    appendTo(out, serial);
    return out;
}

void DateFormatter::appendTo(QString &out, double serial) const
{
    static const QDate epoch(1899, 12, 30);
    // A stored time that is no number or lies beyond any calendar (a damaged row) has no
    // text; converting it would be undefined.
    if (!std::isfinite(serial) || std::fabs(serial) > 1e8)
        return;
    double whole = std::trunc(serial);
    qint64 ms = std::llround(std::fabs(serial - whole) * 86400000.0);
    if (ms >= 86400000) {
        ms -= 86400000;
        whole += serial < 0 ? -1 : 1;
    }
    appendTo(out, epoch.addDays(static_cast<qint64>(whole)),
             QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)));
}

QString DateFormatter::format(const QDate &d, const QTime &tm) const
{
    QString out;
    out.reserve(24);
    appendTo(out, d, tm);
    return out;
}

void DateFormatter::appendTo(QString &out, const QDate &d, const QTime &tm) const
{
    // The names are looked up with value(): an invalid date (month and weekday 0) has none.
    // Taking a date apart is most of the cost of a short format; a time format skips it.
    int year = 0, month = 0, day = 0;
    if (m_splitsDate)
        d.getDate(&year, &month, &day);
    int hour = tm.hour();
    if (m_twelveHour) {
        hour %= 12;
        if (hour == 0)
            hour = 12;
    }
    const bool pm = tm.hour() >= 12;
    for (const Token &tok : m_tokens) {
        switch (tok.kind) {
        case Kind::Literal: out += tok.text; break;
        case Kind::Day: appendNumber(out, day, 1); break;
        case Kind::Day2: appendNumber(out, day, 2); break;
        case Kind::DayShort: out += m_dayShort.value(d.dayOfWeek() - 1); break;
        case Kind::DayLong: out += m_dayLong.value(d.dayOfWeek() - 1); break;
        case Kind::Month: appendNumber(out, month, 1); break;
        case Kind::Month2: appendNumber(out, month, 2); break;
        case Kind::MonthShort: out += m_monthShort.value(month - 1); break;
        case Kind::MonthLong: out += m_monthLong.value(month - 1); break;
        case Kind::DayOfYear: appendNumber(out, d.dayOfYear(), 1); break;
        case Kind::Year2: appendNumber(out, year % 100, 2); break;
        case Kind::Year4: appendNumber(out, year, 4); break;
        case Kind::Hour: appendNumber(out, hour, 1); break;
        case Kind::Hour2: appendNumber(out, hour, 2); break;
        case Kind::Minute: appendNumber(out, tm.minute(), 1); break;
        case Kind::Minute2: appendNumber(out, tm.minute(), 2); break;
        case Kind::Second: appendNumber(out, tm.second(), 1); break;
        case Kind::Second2: appendNumber(out, tm.second(), 2); break;
        case Kind::Quarter: appendNumber(out, (month + 2) / 3, 1); break;
        case Kind::Marker: {
            const QStringView m = tok.text;
            if (m.compare(QLatin1String("ampm"), Qt::CaseInsensitive) == 0)
                out += pm ? m_locale.pmText() : m_locale.amText();
            else if (m.size() == 3) // a/p in the case written
                out += pm ? m.at(2) : m.at(0);
            else
                out += pm ? m.mid(3, 2) : m.left(2);
            break;
        }
        case Kind::General:
            out += m_locale.toString(d, QLocale::ShortFormat);
            if (tm.msecsSinceStartOfDay() != 0)
                out += QLatin1Char(' ') + m_locale.toString(tm, QLocale::LongFormat);
            break;
        case Kind::NamedDate: out += m_locale.toString(d, tok.text); break;
        case Kind::NamedTime: out += m_locale.toString(tm, tok.text); break;
        }
    }
}

QString FormatDate(const QDateTime &t, const QString &format, const QLocale &locale)
{
    return DateFormatter(format, locale).format(t);
}

} // namespace clarow
