// The two reading commands of the main window: read everything once, and
// read continuously until Stop. Both run on the user-interface thread,
// prepare the link and the call-log title and start a ReadATSThread.
#pragma once

#include <boost/shared_ptr.hpp>

#include "call_log.h"
#include "low_level.h"
#include "read_ats_thread.h"
#include "reading_form.h"

struct TReadingContext {
    IReadingForm* Form = nullptr;
    boost::shared_ptr<TLowLevel> Link;
    boost::shared_ptr<TCallLog> Log;
    // The form's reader: replaced by the thread each command creates.
    boost::shared_ptr<ReadATSThread>* Reader = nullptr;
};

// Read everything once: reopen the port, identify, write the title, start
// the thread. Messages go through the message seam.
void LoadFromATS(TReadingContext& context);
// Start continuous reading on the port as it is.
void ReadUninterrupt(TReadingContext& context);
