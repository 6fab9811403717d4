// The call most call-log tests write: an outgoing call of 5 March 2007,
// 14:02:07, 1 min 35 s, from line 12 (programmed 121) over trunk 200.
#pragma once

#include "link/record.h"

namespace testing_support {

inline TRecord ExampleCall() {
    TRecord r;
    r.Year = 2007;
    r.Month = 3;
    r.Day = 5;
    r.StartHour = 14;
    r.StartMin = 2;
    r.StartSec = 7;
    r.DurMin = 1;
    r.DurSec = 35;
    r.HwLine = 12;
    r.PrgNumber = "121";
    r.Trunk = "200";
    r.DialNumber = "5551234";
    return r;
}

}  // namespace testing_support
