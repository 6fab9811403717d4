// A mail server for tests, and the sendmail interface in front of it: a
// real SMTP server (Debian's aiosmtpd, run by /usr/bin/python3 with the
// handler tests/alerts/smtp_saver.py, which keeps every message in a
// directory) and Debian's msmtp as sendmail.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testing_support {

// A TCP port on 127.0.0.1 free a moment ago.
int FreePort();
// Whether something listens on port of 127.0.0.1.
bool Listening(int port);

// aiosmtpd on port, keeping every message in directory (mailNNNN.eml as
// it came, mailNNNN.txt decoded: "Subject: …", "Message-ID: …", "To: …", a
// blank line, the text); ended with the object.
class TSmtpServer {
  public:
    TSmtpServer(int port, const std::string& directory);
    ~TSmtpServer();
    TSmtpServer(const TSmtpServer&) = delete;
    TSmtpServer& operator=(const TSmtpServer&) = delete;
    bool Started() const { return pid_ > 0; }

  private:
    pid_t pid_ = -1;
};

// The decoded mails of directory, in the order received.
std::vector<std::string> Mails(const std::string& directory);

// Writes dir/msmtprc for the server on port and dir/sendmail, a sendmail
// that runs msmtp with it; the latter's path.
std::string WriteSendmail(const std::string& dir, int port);

}  // namespace testing_support
