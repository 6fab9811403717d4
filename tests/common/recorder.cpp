#include "tests/common/recorder.h"

#include <ostream>

namespace testing_support {

void PrintTo(const TShownMessage& m, std::ostream* os) {
    *os << "[" << m.Caption << "] " << m.Text;
}

TRecorder::TRecorder() {
    seam::SetMessageSink(this);
    seam::SetExitHook([this](int status) {
        std::lock_guard<std::mutex> lock(mutex_);
        exits_.push_back(status);
    });
}

TRecorder::~TRecorder() {
    seam::SetExitHook(nullptr);
    seam::SetMessageSink(nullptr);
}

int TRecorder::Message(const std::string& text, const std::string& caption, seam::TButtons) {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back({text, caption});
    if (messageAnswers_.empty()) return seam::kAnswerOk;
    const int answer = messageAnswers_.front();
    messageAnswers_.pop_front();
    return answer;
}

bool TRecorder::FileDialog(const seam::TFileRequest& request, std::string& chosen) {
    seam::TFileChoice choice;
    if (!ChooseFile(request, choice)) return false;
    chosen = choice.Path;
    return true;
}

bool TRecorder::ChooseFile(const seam::TFileRequest& request, seam::TFileChoice& choice) {
    std::lock_guard<std::mutex> lock(mutex_);
    fileRequests_.push_back(request);
    if (fileAnswers_.empty()) return false;
    const std::optional<seam::TFileChoice> answer = fileAnswers_.front();
    fileAnswers_.pop_front();
    if (!answer) return false;
    choice = *answer;
    return true;
}

void TRecorder::Journal(seam::TPriority priority, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    journal_.push_back("<" + std::to_string(static_cast<int>(priority)) + ">" + text);
}

std::vector<std::string> TRecorder::JournalLines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return journal_;
}

std::vector<TShownMessage> TRecorder::Messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

void TRecorder::ClearMessages() {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.clear();
}

void TRecorder::QueueMessageAnswer(int answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    messageAnswers_.push_back(answer);
}

void TRecorder::QueueFileAnswer(std::optional<std::string> answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (answer)
        fileAnswers_.push_back(seam::TFileChoice{std::move(*answer), {}});
    else
        fileAnswers_.push_back(std::nullopt);
}

void TRecorder::QueueFileChoice(const std::string& path, const std::string& filter) {
    std::lock_guard<std::mutex> lock(mutex_);
    fileAnswers_.push_back(seam::TFileChoice{path, filter});
}

std::vector<seam::TFileRequest> TRecorder::FileRequests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return fileRequests_;
}

std::vector<int> TRecorder::Exits() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return exits_;
}

}  // namespace testing_support
