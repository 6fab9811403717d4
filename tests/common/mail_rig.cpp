#include "tests/common/mail_rig.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "tests/common/test_support.h"

namespace testing_support {

int FreePort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

bool Listening(int port) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

TSmtpServer::TSmtpServer(int port, const std::string& directory) {
    const std::string listen = "127.0.0.1:" + std::to_string(port);
    std::vector<std::string> args = {
        "/usr/bin/python3", "-m",     "aiosmtpd", "-n", "-l", listen, "-c",
        "smtp_saver.Saver", directory};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = {"PYTHONPATH=" TALLYPHON_SMTP_SAVER_DIR,
                                    "PYTHONDONTWRITEBYTECODE=1", "PATH=/usr/bin:/bin"};
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
}

TSmtpServer::~TSmtpServer() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
}

std::vector<std::string> Mails(const std::string& directory) {
    std::vector<std::string> names;
    if (DIR* d = opendir(directory.c_str())) {
        while (const dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".txt") == 0)
                names.push_back(name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> mails;
    for (const std::string& name : names)
        mails.push_back(ReadFile(directory + "/" + name));
    return mails;
}

std::string WriteSendmail(const std::string& dir, int port) {
    WriteFile(dir + "/msmtprc", "account default\nhost 127.0.0.1\nport " + std::to_string(port) +
                                    "\nauth off\ntls off\nfrom tallyphon@localhost\n");
    chmod((dir + "/msmtprc").c_str(), 0600);
    const std::string sendmail = dir + "/sendmail";
    WriteFile(sendmail, "#!/bin/sh\nexec " MSMTP_PROGRAM " -C '" + dir + "/msmtprc' \"$@\"\n");
    chmod(sendmail.c_str(), 0755);
    return sendmail;
}

}  // namespace testing_support
