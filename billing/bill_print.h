// The printed bill: pages of a TBill for a printer, a print preview or a PDF
// file. One page or more per department (one section when no subscriber has
// a department), each headed by the period, the exchange's name and the date
// the bill was made, per subscriber its zones and total, a total per
// department and a grand total at the end, "Стр. N из M" on every page. A
// subscriber whose lines run onto the next page is named there again, with
// "(продолжение)".
//
// Painting needs fonts, so a QGuiApplication (or QApplication) must exist
// before any of this is called; a program without a window creates one on
// the offscreen platform (QT_QPA_PLATFORM=offscreen, or "-platform
// offscreen" among its arguments).
#pragma once

#include <string>

#include "base/file_result.h"
#include "base/output_file.h"
#include "billing/bill.h"

class QPagedPaintDevice;

// Paints the bill on device, starting on its current (fresh) page and
// adding pages as it goes; texts in DejaVu Sans, which has Cyrillic.
// Returns the number of pages painted; 0 when no painter could be opened
// on device.
int PaintBill(QPagedPaintDevice& device, const TBill& bill, const TBillTitle& title);

// The bill as the bytes of an A4 PDF file (those WriteBillPdf writes, but
// for the creation time inside), in pdf; false when no painter could be
// opened. Safe to call off the user-interface thread.
bool BillPdf(const TBill& bill, const TBillTitle& title, std::string& pdf);

// Writes the bill as an A4 PDF to path through WriteFileReplacing: made
// beside the target and renamed over it once complete, a FIFO or a socket
// refused (NotAFile), control.Keep refused (IsKept); results as there.
// Safe to call off the user-interface thread.
TFileResult WriteBillPdf(const TBill& bill, const TBillTitle& title, const std::string& path,
                         const TWriteControl& control = {});
