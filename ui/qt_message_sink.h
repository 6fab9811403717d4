// Message boxes and file dialogs of the program: each is shown blocking, on
// the user-interface thread, whichever thread asks.
#pragma once

#include "base/message_seam.h"

class TQtMessageSink : public seam::IMessageSink {
  public:
    int Message(const std::string& text, const std::string& caption,
                seam::TButtons buttons) override;
    bool FileDialog(const seam::TFileRequest& request, std::string& chosen) override;
    bool ChooseFile(const seam::TFileRequest& request, seam::TFileChoice& choice) override;
};
