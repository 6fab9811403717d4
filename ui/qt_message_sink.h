// Message boxes of the program: shows each message as a blocking
// QMessageBox on the user-interface thread, whichever thread asks.
#pragma once

#include "message_seam.h"

class TQtMessageSink : public seam::IMessageSink {
  public:
    int Message(const std::string& text, const std::string& caption,
                seam::TButtons buttons) override;
};
