#include "core/Logging.h"

namespace clarow {

Q_LOGGING_CATEGORY(lcDb, "clarow.db", QtWarningMsg)
Q_LOGGING_CATEGORY(lcScan, "clarow.scan", QtWarningMsg)
Q_LOGGING_CATEGORY(lcMail, "clarow.mail", QtWarningMsg)
Q_LOGGING_CATEGORY(lcNotify, "clarow.notify", QtWarningMsg)
Q_LOGGING_CATEGORY(lcMqtt, "clarow.mqtt", QtWarningMsg)
Q_LOGGING_CATEGORY(lcHttp, "clarow.http", QtWarningMsg)
Q_LOGGING_CATEGORY(lcFirmware, "clarow.firmware", QtWarningMsg)
Q_LOGGING_CATEGORY(lcApp, "clarow.app", QtWarningMsg)

} // namespace clarow
