#include "shell/Helpers.h"

namespace clarow {

double RoundHalfEven(double v) { return v; }
double LeadingNumber(const QString &) { return 0; }
bool IsNumeric(const QString &) { return false; }
QString DateNumberText(const QDateTime &) { return {}; }
double NumOr(const QVariant &, double fallback) { return fallback; }
float TextToSingle(const QString &) { return 0; }
qint16 WholeNumber16(const QString &) { return 0; }
QString SingleText(float v) { return QString::number(v); }

} // namespace clarow
