// Call lines for the report tests, written by the generator of sample call
// logs.
#pragma once

#include <string>

#include "tools/gen_calllog/calllog_gen.h"

// A standard call line of 5 March 2007, 14:02:07: hardware line hw,
// programmed number prg, trunk, dialled number, duration dh:dm:ds.
inline std::string CallLine(int hw, const std::string& prg, const std::string& trunk,
                            const std::string& dial, int dh = 0, int dm = 1, int ds = 35) {
    TGenCall c;
    c.Year = 2007;
    c.Month = 3;
    c.Day = 5;
    c.Hour = 14;
    c.Minute = 2;
    c.Second = 7;
    c.DurHour = dh;
    c.DurMin = dm;
    c.DurSec = ds;
    c.HwLine = hw;
    c.PrgNumber = prg;
    c.Trunk = trunk;
    c.DialNumber = dial;
    return FormatStandardLine(c);
}
