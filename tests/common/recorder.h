// Stands in for the message boxes, file dialogs and program exit of the
// program: records what passes through them so tests can compare it.
#pragma once

#include <deque>
#include <iosfwd>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/message_seam.h"

namespace testing_support {

struct TShownMessage {
    std::string Text;
    std::string Caption;
    bool operator==(const TShownMessage& o) const { return Text == o.Text && Caption == o.Caption; }
};
void PrintTo(const TShownMessage& m, std::ostream* os);

// Installs itself as message sink and exit hook for its lifetime. Messages
// take the queued answers in turn, OK when none is queued. File dialogs take the queued answers in
// turn (nullopt: cancelled); with none queued they are cancelled. Safe to call from the reading
// thread while the test looks on.
class TRecorder : public seam::IMessageSink {
  public:
    TRecorder();
    ~TRecorder() override;
    TRecorder(const TRecorder&) = delete;
    TRecorder& operator=(const TRecorder&) = delete;

    int Message(const std::string& text, const std::string& caption,
                seam::TButtons buttons) override;
    void Journal(seam::TPriority priority, const std::string& text) override;
    bool FileDialog(const seam::TFileRequest& request, std::string& chosen) override;
    bool ChooseFile(const seam::TFileRequest& request, seam::TFileChoice& choice) override;

    // Messages shown so far, oldest first.
    std::vector<TShownMessage> Messages() const;
    void ClearMessages();
    // Journal lines told so far, oldest first, each led by its priority
    // prefix as standard error would show it ("<6>...").
    std::vector<std::string> JournalLines() const;
    // The answer of a later message (seam::kAnswerOk or kAnswerCancel).
    void QueueMessageAnswer(int answer);
    // The answer of a later file dialog.
    void QueueFileAnswer(std::optional<std::string> answer);
    // The same with the name filter chosen in it.
    void QueueFileChoice(const std::string& path, const std::string& filter);
    // File dialogs asked for so far, oldest first.
    std::vector<seam::TFileRequest> FileRequests() const;
    // Statuses the program asked to end with, in order.
    std::vector<int> Exits() const;

  private:
    mutable std::mutex mutex_;
    std::vector<TShownMessage> messages_;
    std::vector<std::string> journal_;
    std::vector<seam::TFileRequest> fileRequests_;
    std::deque<std::optional<seam::TFileChoice>> fileAnswers_;
    std::deque<int> messageAnswers_;
    std::vector<int> exits_;
};

}  // namespace testing_support
