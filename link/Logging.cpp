#include "link/Logging.h"

namespace clarow {

// Debug and info messages are off unless a logging rule turns them on; warnings show.
Q_LOGGING_CATEGORY(lcLink, "clarow.link", QtWarningMsg)

} // namespace clarow
