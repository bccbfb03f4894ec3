#include "monitor/AlarmMail.h"

namespace clarow {

void CheckAlarms() {}
void TestMail() {}

} // namespace clarow
