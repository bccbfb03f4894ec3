#pragma once

#include "link/Logging.h"

namespace clarow {

// One developer trace per subsystem, all off by default (debug and info; warnings show).
// Turn one on with QT_LOGGING_RULES, for example "clarow.scan.debug=true;clarow.mail.debug=true",
// or all with "clarow.*.debug=true". They sit beside the user's daily diagnostic log, which
// they neither replace nor change.
Q_DECLARE_LOGGING_CATEGORY(lcDb)       // clarow.db: opening, upgrading and closing the database
Q_DECLARE_LOGGING_CATEGORY(lcScan)     // clarow.scan: each scan's exchange, readings and alarms
Q_DECLARE_LOGGING_CATEGORY(lcMail)     // clarow.mail: alarm mails and their delivery
Q_DECLARE_LOGGING_CATEGORY(lcNotify)   // clarow.notify: webhook deliveries
Q_DECLARE_LOGGING_CATEGORY(lcMqtt)     // clarow.mqtt: the broker connection and what is published
Q_DECLARE_LOGGING_CATEGORY(lcHttp)     // clarow.http: the metrics and web page server
Q_DECLARE_LOGGING_CATEGORY(lcFirmware) // clarow.firmware: adapter firmware upgrades
Q_DECLARE_LOGGING_CATEGORY(lcApp)      // clarow.app: start-up and close-down

} // namespace clarow
