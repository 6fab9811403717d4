// The bill PDF's share of the billing figures: a made-up bill of a given
// number of subscribers, and the time to write it as a PDF. Needs a
// QGuiApplication, as every painting of a bill does.
#pragma once

#include <string>

#include "billing/bill.h"

// n subscribers in five departments, each with four zones and a total.
TBill GeneratedBill(int n);

// Seconds WriteBillPdf took to write bill to path; negative when it failed.
double TimeBillPdf(const TBill& bill, const std::string& path);
