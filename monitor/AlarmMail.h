#pragma once

namespace clarow {

// Composes and sends the alarm and return-to-normal mail for every sensor that qualifies,
// and marks the rows once the server has accepted the mail. Never throws; failures go to
// the diagnostic log when LogErrors is on.
void CheckAlarms();

// Sends the fixed test message of the Options dialog.
void TestMail();

} // namespace clarow
