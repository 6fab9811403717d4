// The one road by which the program shows message boxes and file dialogs
// and ends itself. The program installs a sink that shows a blocking
// QMessageBox on the user-interface thread; tests install a recorder.
#pragma once

#include <functional>
#include <string>

namespace seam {

enum class TButtons { Ok, OkCancel };
enum TAnswer { kAnswerOk = 1, kAnswerCancel = 2 };
// The severities of a journal line, as sd-daemon numbers them.
enum class TPriority { Error = 3, Warning = 4, Info = 6 };

// What a file dialog is asked for. Texts are UTF-8; paths are the file
// system's bytes.
struct TFileRequest {
    bool Save = false;  // a save dialog, else an open dialog
    std::string Caption;
    std::string Directory;      // initial directory
    std::string FileName;       // initial file name (may be a full path)
    std::string DefaultSuffix;  // added when the name has none, e.g. "txt"
    std::string Filter;         // Qt name filter, e.g. "Text (*.txt)"
};

// What a confirmed file dialog gave: the path and the name filter chosen in
// it (one of TFileRequest::Filter's, empty when the dialog cannot tell).
struct TFileChoice {
    std::string Path;
    std::string Filter;
};

class IMessageSink {
  public:
    virtual ~IMessageSink() = default;
    // Shows text (UTF-8) under caption and returns the button pressed.
    // May be called from any thread; blocks until answered.
    virtual int Message(const std::string& text, const std::string& caption, TButtons buttons) = 0;
    // Tells what the program does, for a log only: no box is shown and
    // nothing waits. The default writes the line to standard error led by
    // its priority prefix.
    virtual void Journal(TPriority priority, const std::string& text);
    // Runs a file dialog on the user-interface thread: true and the chosen
    // path when confirmed, false when cancelled. The default cancels.
    virtual bool FileDialog(const TFileRequest& request, std::string& chosen) {
        (void)request;
        (void)chosen;
        return false;
    }
    // The same, telling the name filter chosen too. The default asks
    // FileDialog and tells no filter.
    virtual bool ChooseFile(const TFileRequest& request, TFileChoice& choice) {
        choice.Filter.clear();
        return FileDialog(request, choice.Path);
    }
};

// Installs sink (not owned); nullptr restores the default, which writes the
// message to standard error and answers OK.
void SetMessageSink(IMessageSink* sink);
IMessageSink* MessageSink();

// While nobody can answer a box (an unattended start, no display at all),
// every message is one line on standard error, "[caption] text", answered
// OK, and every file dialog is cancelled, whatever sink is installed.
void SetUnattended(bool on);
bool Unattended();

// The line standard error gets for a message under caption, led by the
// priority prefix of sd-daemon so that a journal files it by severity
// ("journalctl -p warning" shows the problems only):
//   <4> warning: "Внимание!", "Предупреждение", "Предупреждение!" and
//       "Уведомление" (something for the operator to set right: no
//       exchange found, a first start);
//   <3> error: every other caption ("Ошибка", "Ошибка!", "Авария!", the
//       program's title over an unexpected exception, none at all).
std::string UnattendedLine(const std::string& text, const std::string& caption);

// Shows one message through the installed sink; returns its answer.
int ShowMessage(const std::string& text, const std::string& caption,
                TButtons buttons = TButtons::Ok);

// Tells one journal line through the installed sink (the default sink's
// way whenever unattended).
void Journal(TPriority priority, const std::string& text);

// Runs one file dialog through the installed sink.
bool FileDialog(const TFileRequest& request, std::string& chosen);
bool ChooseFile(const TFileRequest& request, TFileChoice& choice);

// Ends the program with status. The default calls std::exit; the program
// and the tests may install their own (an installed hook may return).
void SetExitHook(std::function<void(int)> hook);
void ExitProgram(int status);

}  // namespace seam
