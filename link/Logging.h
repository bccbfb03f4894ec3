#pragma once

#include <QLoggingCategory>

namespace clarow {

// The developer's trace of the serial and network link (ports opened, closed, bytes sent and
// received). Off by default; turn it on with QT_LOGGING_RULES="clarow.link.debug=true". The
// user's daily diagnostic log is separate and unchanged by these rules.
Q_DECLARE_LOGGING_CATEGORY(lcLink)

} // namespace clarow
