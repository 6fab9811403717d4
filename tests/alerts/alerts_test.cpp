// The alerts over real files: the rules file as the administrator saves
// it, a call-log file written line by line with the program's own line
// writer, the state file across restarts and kills, and mail through the
// real chain: msmtp as sendmail to an SMTP server (aiosmtpd).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>
#include <algorithm>
#include <atomic>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "alerts/alert_mail.h"
#include "alerts/alerter.h"
#include "alerts/condition_watch.h"
#include "base/cp1251.h"
#include "base/message_seam.h"
#include "calllog/call_line.h"
#include "tests/calllog/example_call.h"
#include "tests/common/mail_rig.h"
#include "tests/common/test_support.h"

extern char** environ;

namespace {

using testing_support::CountOf;
using testing_support::FreePort;
using testing_support::Listening;
using testing_support::Mails;
using testing_support::ReadFile;
using testing_support::TSmtpServer;
using testing_support::TTempDir;
using testing_support::WaitFor;
using testing_support::WriteFile;
using testing_support::WriteSendmail;

// Keeps the journal lines, "<priority> text".
class TJournal : public seam::IMessageSink {
  public:
    TJournal() { seam::SetMessageSink(this); }
    ~TJournal() override { seam::SetMessageSink(nullptr); }
    int Message(const std::string&, const std::string&, seam::TButtons) override {
        return seam::kAnswerOk;
    }
    void Journal(seam::TPriority priority, const std::string& text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back("<" + std::to_string(static_cast<int>(priority)) + "> " + text);
    }
    // The lines holding needle.
    size_t Count(const std::string& needle) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return static_cast<size_t>(std::count_if(
            lines_.begin(), lines_.end(),
            [&](const std::string& l) { return l.find(needle) != std::string::npos; }));
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// A desktop or database stand-in: keeps what it is handed, or refuses it.
class TSink : public IAlertSink {
  public:
    std::string Deliver(const TAlert& alert) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (Refuse) return "нет связи";
        got_.push_back(alert);
        return "";
    }
    std::vector<TAlert> Got() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return got_;
    }
    std::atomic<bool> Refuse{false};

  private:
    mutable std::mutex mutex_;
    std::vector<TAlert> got_;
};

// The example call (Monday 5 March 2007, 14:02:07, 1 min 35 s, line 121)
// to dialled on day of March at hour, lasting minutes and 35 s.
std::string CallLine(const std::string& dialled, int day = 5, int hour = 14, int minutes = 1,
                     bool alt = false) {
    TRecord r = testing_support::ExampleCall();
    r.DialNumber = dialled;
    r.Day = day;
    r.StartHour = hour;
    r.DurMin = minutes % 60;
    r.DurHour = minutes / 60;
    return FormatCallLine(r, alt, "QTV610", "4660");
}

void StartLog(const std::string& path, int minute = 7) {
    const TCallLogTitle title = BuildTitle({2007, 3, 5, 9, minute, 3});
    WriteFile(path, CallLogBytes(title.TitleLine) + CallLogBytes(title.ColumnLine));
}

void Append(const std::string& path, const std::string& line) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << CallLogBytes(line);
}

// Rules and tariffs in a start-up directory: 8… at 5,50 a minute, any
// other number at 0,50.
void WriteRules(const TTempDir& dir, const std::string& rules) {
    WriteFile(dir.File("tariffs.csv"), "8;Межгород;5,50\r\n*;Город;0,50\r\n");
    WriteFile(dir.File(kAlertRulesFileName), Utf8ToCp1251(rules));
}

// The keys' call offsets are not known before the file is written; the
// alerts are told apart by the rule's kind and the call line.
std::vector<std::string> Summary(const std::vector<TAlert>& alerts) {
    std::vector<std::string> out;
    for (const TAlert& a : alerts)
        out.push_back(std::string(AlertKindName(a.Kind)) + " " + a.CallLine.substr(0, 60));
    std::sort(out.begin(), out.end());
    return out;
}

TEST(AlertRules, ReadsEveryKindFromWindows1251) {
    TTempDir dir;
    WriteRules(dir,
               "# Оповещения офиса\r\n"
               "TARIFFS=tariffs.csv\r\n"
               "SENDMAIL=/usr/lib/sendmail\r\n"
               "cost;500,00;desktop mail:boss@example.ru\r\n"
               "duration;60;journal\r\n"
               "prefix;8809 810;db desktop\r\n"
               "hours;пн-пт 08:00-19:00\r\n"
               "live;90;desktop\r\n"
               "buffer;80;\r\n"
               "silent;15;mail:a@b.ru mail:c@d.ru\r\n"
               "held;;desktop\r\n"
               "db;500;\r\n"
               "\"db\";\"30 мин\";db\r\n");
    TAlertRules rules;
    const TAlertRulesResult r = LoadAlertRules(dir.File(kAlertRulesFileName), rules);
    ASSERT_EQ(r.Outcome, TAlertRulesOutcome::Loaded) << r.Message;
    ASSERT_EQ(rules.Rules.size(), 10u);
    EXPECT_EQ(rules.Sendmail, "/usr/lib/sendmail");
    ASSERT_TRUE(rules.Tariffs);
    EXPECT_EQ(rules.Tariffs->Rates().size(), 2u);
    const std::vector<TAlertRule>& k = rules.Rules;
    EXPECT_EQ(k[0].Line, 4);
    EXPECT_EQ(k[0].Kopecks, 50000);
    EXPECT_TRUE(k[0].Delivery.Desktop);
    EXPECT_EQ(k[0].Delivery.Mail, std::vector<std::string>{"boss@example.ru"});
    EXPECT_EQ(k[1].Minutes, 60);
    EXPECT_EQ(k[2].Prefixes, (std::vector<std::string>{"8809", "810"}));
    EXPECT_TRUE(k[2].Delivery.Db && k[2].Delivery.Desktop);
    EXPECT_EQ(k[3].Kind, TAlertKind::Hours);
    EXPECT_EQ(k[3].Hours.Days, 0x1F);
    EXPECT_EQ(k[3].Hours.From, 8 * 60);
    EXPECT_EQ(k[3].Hours.To, 19 * 60);
    EXPECT_EQ(k[4].Minutes, 90);
    EXPECT_EQ(k[5].Percent, 80);
    EXPECT_EQ(k[6].Delivery.Mail.size(), 2u);
    EXPECT_EQ(k[7].Kind, TAlertKind::Held);
    EXPECT_EQ(k[8].DbCalls, 500);
    EXPECT_EQ(k[9].DbCalls, 0);
    EXPECT_EQ(k[9].Minutes, 30);

    // No file: no rules, no error.
    EXPECT_EQ(LoadAlertRules(dir.File("none.cfg"), rules).Outcome, TAlertRulesOutcome::NoFile);
    EXPECT_TRUE(rules.Rules.empty());
}

TEST(AlertRules, RefusesABadLineNamingLineAndField) {
    TTempDir dir;
    const struct {
        const char* Text;
        const char* Message;
    } bad[] = {
        {"duration;60\r\nprefix;88a\r\n", "Строка 2, поле «параметр»: префикс из цифр"},
        {"duration;60\r\n\r\nduration;шесть\r\n", "Строка 3, поле «параметр»: целое число минут"},
        {"buffer;101\r\n", "Строка 1, поле «параметр»: процент"},
        {"held;;mail:nobody\r\n", "Строка 1, поле «доставка»: адрес почты"},
        {"silent;5;телефон\r\n", "Строка 1, поле «доставка»"},
        {"ring;5\r\n", "Строка 1, поле «вид»"},
        {"duration;1\r\ncost;500,00\r\n",
         "Строка 2, поле «вид»: для правила cost нужна строка TARIFFS="},
        {"hours;пн-пт 25:00-19:00\r\n", "Строка 1, поле «параметр»"},
        {"db;30 часов\r\n", "Строка 1, поле «параметр»: число звонков"},
        {"duration;5\r\nPATH=/bin\r\n", "Строка 2, поле «вид»: известны только строки TARIFFS="},
        {"SENDMAIL=\r\n", "Строка 1, поле «вид»: не указан путь"},
    };
    for (const auto& b : bad) {
        WriteRules(dir, b.Text);
        TAlertRules rules;
        rules.Sendmail = "kept";
        const TAlertRulesResult r = LoadAlertRules(dir.File(kAlertRulesFileName), rules);
        EXPECT_EQ(r.Outcome, TAlertRulesOutcome::Invalid) << b.Text;
        EXPECT_NE(r.Message.find(b.Message), std::string::npos) << r.Message;
        EXPECT_NE(r.Message.find(kAlertRulesFileName), std::string::npos) << r.Message;
        EXPECT_EQ(rules.Sendmail, "kept") << "nothing of a refused file is used";
    }
    // The alerter told of the refusal and uses none of the file; with no
    // rule it keeps no state file.
    TJournal journal;
    StartLog(dir.File("calls.txt"));
    TAlerter alerter(dir.File(kAlertRulesFileName), dir.Path());
    EXPECT_EQ(alerter.RulesResult().Outcome, TAlertRulesOutcome::Invalid);
    EXPECT_TRUE(alerter.Rules().Rules.empty());
    EXPECT_EQ(journal.Count("<3> Правила оповещений не применены"), 1u);
    Append(dir.File("calls.txt"), CallLine("88095551234"));
    EXPECT_EQ(alerter.EvaluatePending(dir.File("calls.txt")), 0u);
    alerter.Stop();
    EXPECT_FALSE(testing_support::Exists(dir.File(kAlertStateFileName)));
}

TEST(Alerter, EachCallRuleFiresOncePerCall) {
    TJournal journal;
    TTempDir dir;
    WriteRules(dir,
               "TARIFFS=tariffs.csv\r\n"
               "cost;10,00;desktop\r\n"
               "duration;10;desktop\r\n"
               "prefix;8809 810;desktop\r\n"
               "prefix;88;desktop\r\n"
               "hours;пн-пт 08:00-19:00;desktop\r\n");
    const std::string log = dir.File("calls.txt");
    StartLog(log);
    TSink desktop;
    const std::string a = CallLine("88095551234");  // 2 min at 5,50: cost, both prefixes
    const std::string b = CallLine("5551234");      // nothing
    const std::string c = CallLine("5551234", 10, 14, 1, true);  // a Saturday: hours
    const std::string d = CallLine("", 5, 14, 25);               // incoming, long: duration
    const std::string e = CallLine("5551234", 5, 14, 12);        // 13 min at 0,50: duration
    {
        TAlerter alerter(dir.File(kAlertRulesFileName), dir.Path());
        ASSERT_EQ(alerter.RulesResult().Outcome, TAlertRulesOutcome::Loaded)
            << alerter.RulesResult().Message;
        alerter.SetSink("desktop", &desktop);
        alerter.Start(log);
        for (const std::string& line : {a, b, c, d}) {
            Append(log, line);
            alerter.Notify(log);
        }
        // Half a line waits for its end.
        const std::string bytes = CallLogBytes(e);
        {
            std::ofstream out(log, std::ios::binary | std::ios::app);
            out << bytes.substr(0, 20);
        }
        alerter.Notify(log);
        ASSERT_TRUE(WaitFor([&] { return desktop.Got().size() >= 5; }));
        {
            std::ofstream out(log, std::ios::binary | std::ios::app);
            out << bytes.substr(20);
        }
        alerter.Notify(log);
        ASSERT_TRUE(
            WaitFor([&] { return desktop.Got().size() >= 6 && alerter.OutboxSize() == 0; }));
        alerter.Stop();
    }
    const std::vector<std::string> expected = {
        "cost " + a.substr(0, 60),  "duration " + d.substr(0, 60), "duration " + e.substr(0, 60),
        "hours " + c.substr(0, 60), "prefix " + a.substr(0, 60),   "prefix " + a.substr(0, 60),
    };
    std::vector<std::string> sorted = expected;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(Summary(desktop.Got()), sorted);
    for (const TAlert& alert : desktop.Got())
        if (alert.Kind == TAlertKind::Cost) {
            EXPECT_EQ(alert.CallLine, a);
            EXPECT_NE(alert.Text.find("стоит 11,00 руб."), std::string::npos) << alert.Text;
        }
    // Every alert in the journal once, with its call's line.
    EXPECT_EQ(journal.Count("<4> Оповещение «prefix»"), 2u);
    EXPECT_EQ(journal.Count(": " + a), 3u);
    EXPECT_EQ(journal.Count(b), 0u);

    // A restart on the same state evaluates nothing again; a new line is.
    {
        TAlerter again(dir.File(kAlertRulesFileName), dir.Path());
        again.SetSink("desktop", &desktop);
        EXPECT_EQ(again.EvaluatePending(log), 0u);
        Append(log, CallLine("81012345"));
        EXPECT_EQ(again.EvaluatePending(log), 2u);  // cost and prefix 810
        again.DeliverDue();
        EXPECT_EQ(desktop.Got().size(), 8u);
        EXPECT_EQ(again.OutboxSize(), 0u);
    }
    // A file cut and written anew (a new reading run) is read from its start.
    StartLog(log, 8);
    Append(log, a);
    TAlerter rotated(dir.File(kAlertRulesFileName), dir.Path());
    EXPECT_EQ(rotated.EvaluatePending(log), 3u);
}

TEST(Alerter, KilledBeforeDeliveryLosesNothing) {
    TJournal journal;
    TTempDir dir;
    WriteRules(dir, "prefix;810;db desktop\r\nheld;;db\r\n");
    const std::string log = dir.File("calls.txt");
    StartLog(log);
    TSink db;
    db.Refuse = true;
    std::string key;
    {
        TAlerter first(dir.File(kAlertRulesFileName), dir.Path());
        first.SetSink("db", &db);                   // no desktop: told once, skipped
        EXPECT_EQ(first.EvaluatePending(log), 0u);  // the first start passes the file over
        Append(log, CallLine("81012345"));
        Append(log, CallLine("81012346"));
        EXPECT_EQ(first.EvaluatePending(log), 2u);
        EXPECT_TRUE(first.Raise(TAlertKind::Held, "Журнал звонков не записывается"));
        EXPECT_FALSE(first.Raise(TAlertKind::Held, "Журнал звонков не записывается"));
        EXPECT_NE(first.DeliverDue(), 0) << "a retry waits";
        EXPECT_EQ(first.OutboxSize(), 3u);
        EXPECT_EQ(journal.Count("Оповещения в «desktop» не доставляются"), 1u);
        EXPECT_EQ(journal.Count("<3> Оповещение «held»: Журнал звонков не записывается"), 1u);
        EXPECT_EQ(journal.Count("Оповещение не доставлено (db): нет связи"), 1u);
        // Killed here: nothing more is written.
    }
    db.Refuse = false;
    {
        TAlerter second(dir.File(kAlertRulesFileName), dir.Path());
        second.SetSink("db", &db);
        EXPECT_EQ(second.EvaluatePending(log), 0u);
        EXPECT_TRUE(second.Raised(TAlertKind::Held));
        EXPECT_FALSE(second.Raise(TAlertKind::Held, "снова"))
            << "an episode open before the restart is not raised again";
        second.DeliverDue();
        EXPECT_EQ(second.OutboxSize(), 0u);
        ASSERT_EQ(db.Got().size(), 3u);
        EXPECT_EQ(db.Got()[0].Key.substr(0, 5), "call-");
        EXPECT_NE(db.Got()[0].Key, db.Got()[1].Key);
        EXPECT_EQ(db.Got()[2].Key.substr(0, 5), "held-");
        EXPECT_TRUE(second.Clear(TAlertKind::Held));
        EXPECT_FALSE(second.Clear(TAlertKind::Held));
        second.DeliverDue();
        ASSERT_EQ(db.Got().size(), 4u);
        EXPECT_TRUE(db.Got()[3].Cleared);
        EXPECT_EQ(db.Got()[3].Key,
                  db.Got()[2].Key.substr(0, db.Got()[2].Key.size() - 7) + "-cleared");
    }
    // Journal lines were written once, before the kill.
    EXPECT_EQ(journal.Count("Оповещение «prefix»"), 2u);
    EXPECT_EQ(journal.Count("<6> Оповещение «held» снято"), 1u);
    // A damaged state file is put aside and told of.
    WriteFile(dir.File(kAlertStateFileName), "something else\n");
    TAlerter third(dir.File(kAlertRulesFileName), dir.Path());
    EXPECT_EQ(journal.Count("повреждён"), 1u);
    EXPECT_TRUE(testing_support::Exists(dir.File(std::string(kAlertStateFileName) + ".bad")));
}

TEST(Alerter, TheStateFileIsReplacedNeverWrittenThroughALink) {
    TJournal journal;
    TTempDir dir;
    WriteRules(dir, "held;;\r\n");
    WriteFile(dir.File("victim"), "keep");
    TAlerter alerter(dir.File(kAlertRulesFileName), dir.Path());
    const std::string state = dir.File(kAlertStateFileName);
    ASSERT_EQ(symlink(dir.File("victim").c_str(), state.c_str()), 0);
    EXPECT_TRUE(alerter.Raise(TAlertKind::Held, "Файл состояния не записывается"));
    EXPECT_EQ(ReadFile(dir.File("victim")), "keep");
    struct stat st {};
    ASSERT_EQ(lstat(state.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_NE(ReadFile(state).find("Файл состояния не записывается"), std::string::npos);
}

TEST(AlertMail, ThroughMsmtpToAnSmtpServer) {
    TJournal journal;
    TTempDir dir;
    const std::string inbox = dir.File("inbox");
    ASSERT_EQ(mkdir(inbox.c_str(), 0700), 0);
    const int port = FreePort();
    const std::string sendmail = WriteSendmail(dir.Path(), port);
    WriteRules(dir,
               "SENDMAIL=" + sendmail +
                   "\r\nprefix;8809;mail:boss@example.ru\r\nprefix;810;mail:boss@example.ru\r\n");
    const std::string log = dir.File("calls.txt");
    StartLog(log);

    std::atomic<std::time_t> now{1796000000};
    TAlerterOptions options;
    options.Clock = [&now] { return now.load(); };
    options.Host = "office.example.ru";
    TAlerter alerter(dir.File(kAlertRulesFileName), dir.Path(), options);
    ASSERT_EQ(alerter.RulesResult().Outcome, TAlertRulesOutcome::Loaded)
        << alerter.RulesResult().Message;
    alerter.Start(log);

    // The server is down: the mail waits and is tried again.
    const std::string a = CallLine("88095551234");
    Append(log, a);
    alerter.Notify(log);
    ASSERT_TRUE(WaitFor(
        [&] { return journal.Count("Оповещение не доставлено (mail:boss@example.ru)") == 1; }));
    TSmtpServer server(port, inbox);
    ASSERT_TRUE(server.Started());
    ASSERT_TRUE(WaitFor([&] { return Listening(port); }));
    now += 30;
    alerter.Kick();
    ASSERT_TRUE(WaitFor([&] { return Mails(inbox).size() == 1 && alerter.OutboxSize() == 0; }));
    std::string mail = Mails(inbox)[0];
    EXPECT_NE(mail.find("Subject: Tallyphon: Звонок с линии 121 на 88095551234 (префикс 8809)\n"),
              std::string::npos)
        << mail;
    EXPECT_NE(mail.find("To: boss@example.ru\n"), std::string::npos) << mail;
    EXPECT_NE(mail.find("@tallyphon.office.example.ru>"), std::string::npos) << mail;
    EXPECT_NE(mail.find("Message-ID: <call-"), std::string::npos) << mail;
    EXPECT_EQ(CountOf(mail, a), 1u) << mail;
    EXPECT_EQ(journal.Count("Оповещения снова доставляются"), 1u);

    // Three alerts of one rule within ten minutes: one mail at once, the
    // other two together ten minutes after it.
    const std::string g1 = CallLine("81011111"), g2 = CallLine("81022222"),
                      g3 = CallLine("81033333");
    Append(log, g1);
    alerter.Notify(log);
    ASSERT_TRUE(WaitFor([&] { return Mails(inbox).size() == 2 && alerter.OutboxSize() == 0; }));
    EXPECT_EQ(CountOf(Mails(inbox)[1], g1), 1u);
    now += 60;
    Append(log, g2);
    Append(log, g3);
    alerter.Notify(log);
    ASSERT_TRUE(WaitFor([&] { return journal.Count(g3) == 1 && alerter.OutboxSize() == 2; }));
    EXPECT_EQ(alerter.MailsSent(), 2u) << "no mail of the rule before ten minutes are over";
    now += 600;
    alerter.Kick();
    ASSERT_TRUE(WaitFor([&] { return Mails(inbox).size() == 3 && alerter.OutboxSize() == 0; }));
    mail = Mails(inbox)[2];
    EXPECT_NE(mail.find("Subject: Tallyphon: 2 оповещений «prefix»"), std::string::npos) << mail;
    EXPECT_EQ(CountOf(mail, g2), 1u) << mail;
    EXPECT_EQ(CountOf(mail, g3), 1u) << mail;
    alerter.Stop();
    EXPECT_EQ(Mails(inbox).size(), 3u);

    // Started again on the same state: nothing is mailed again.
    TAlerter again(dir.File(kAlertRulesFileName), dir.Path(), options);
    EXPECT_EQ(again.EvaluatePending(log), 0u);
    again.DeliverDue();
    EXPECT_EQ(again.MailsSent(), 0u);
    EXPECT_EQ(again.OutboxSize(), 0u);
}

TEST(AlertMail, TheSameAlertMailedTwiceKeepsItsMessageId) {
    TAlert alert;
    alert.Key = "call-00ff-4711-3";
    alert.Text = "Звонок с линии 121 на 8809";
    alert.CallLine = "05*03*2007 …";
    const std::string first = ComposeAlertMail({&alert}, "boss@example.ru", "pbx", 1796000000);
    const std::string again = ComposeAlertMail({&alert}, "boss@example.ru", "pbx", 1796000600);
    const std::string id = "Message-ID: <call-00ff-4711-3.1@tallyphon.pbx>\n";
    EXPECT_NE(first.find(id), std::string::npos) << first;
    EXPECT_NE(again.find(id), std::string::npos) << again;
    EXPECT_NE(first.find("Date: Mon, 30 Nov 2026 00:53:20 +0000\n"), std::string::npos) << first;
    EXPECT_NE(first, again);
}

TEST(AlertMail, SubjectWordsStayShortAndWhole) {
    // 60 Cyrillic letters: 120 bytes, cut between letters only.
    std::string text;
    for (int i = 0; i < 60; ++i)
        text += "Ж";
    const std::string subject = EncodedSubject(text);
    // Python's base64 of 44 bytes (22 letters), 44 and 32.
    EXPECT_EQ(subject,
              "=?UTF-8?B?0JbQltCW0JbQltCW0JbQltCW0JbQltCW0JbQltCW0JbQltCW0JbQltCW0JY=?=\n"
              " =?UTF-8?B?0JbQltCW0JbQltCW0JbQltCW0JbQltCW0JbQltCW0JbQltCW0JbQltCW0JY=?=\n"
              " =?UTF-8?B?0JbQltCW0JbQltCW0JbQltCW0JbQltCW0JbQltCW0JY=?=");
}

}  // namespace

namespace {

// Each condition is raised when it crosses its rule's threshold and
// cleared once when it falls back; a kind without a rule is left alone.
TEST(ConditionWatch, RaisesAtTheRulesThresholdAndClearsOnce) {
    TJournal journal;
    TTempDir dir;
    WriteRules(dir,
               "buffer;80;journal\r\nsilent;5;journal\r\nheld;;journal\r\nlive;30;journal\r\n"
               "db;100;journal\r\n");
    TAlerter alerter(dir.File(kAlertRulesFileName), dir.Path());
    TConditionWatch watch(alerter);
    using std::chrono::minutes;

    watch.BufferRead({{0, 100, 79, 79}});
    EXPECT_FALSE(alerter.Raised(TAlertKind::Buffer));
    watch.BufferRead({{0, 100, 10, 10}, {1, 20, 17, 85}});
    EXPECT_TRUE(alerter.Raised(TAlertKind::Buffer));
    watch.BufferRead({{0, 100, 10, 10}, {1, 20, 10, 50}});
    EXPECT_FALSE(alerter.Raised(TAlertKind::Buffer));

    watch.Silence(TSilenceStep::Lasting, minutes(4));
    EXPECT_FALSE(alerter.Raised(TAlertKind::Silent));
    watch.Silence(TSilenceStep::Lasting, minutes(6));
    EXPECT_TRUE(alerter.Raised(TAlertKind::Silent));
    watch.Silence(TSilenceStep::Ended, minutes(7));
    EXPECT_FALSE(alerter.Raised(TAlertKind::Silent));

    watch.Held(true, "журнал звонков не записывается");
    EXPECT_TRUE(alerter.Raised(TAlertKind::Held));
    watch.Held(false, "запись возобновлена");
    EXPECT_FALSE(alerter.Raised(TAlertKind::Held));

    TBusyConnection call;
    call.Lasted = minutes(29);
    call.Connection = "АЛ205(0)";
    watch.Polled({call});
    EXPECT_FALSE(alerter.Raised(TAlertKind::Live));
    call.Lasted = minutes(31);
    watch.Polled({call});
    EXPECT_TRUE(alerter.Raised(TAlertKind::Live));
    watch.Polled({});
    EXPECT_FALSE(alerter.Raised(TAlertKind::Live));

    const auto t0 = std::chrono::steady_clock::now();
    watch.Shipping(true, 99, t0);
    EXPECT_FALSE(alerter.Raised(TAlertKind::Db));
    watch.Shipping(true, 100, t0 + minutes(1));
    EXPECT_TRUE(alerter.Raised(TAlertKind::Db));
    watch.Shipping(false, 0, t0 + minutes(2));
    EXPECT_FALSE(alerter.Raised(TAlertKind::Db));

    // Five raised and five cleared, each once.
    EXPECT_EQ(alerter.DeliverDue(), 0);
    for (const char* kind : {"buffer", "silent", "held", "live", "db"}) {
        EXPECT_EQ(journal.Count(std::string("Оповещение «") + kind + "»: "), 1u) << kind;
        EXPECT_EQ(journal.Count(std::string("Оповещение «") + kind + "» снято: "), 1u) << kind;
    }
    EXPECT_EQ(journal.Count("буфер тарификации блока 2 заполнен на 85 % (17 записей из 20)"), 1u);
}

}  // namespace

namespace {

// Minutes, not calls: behind from the first call written while stalled.
TEST(ConditionWatch, TheDatabaseIsBehindByMinutesOnlyWithCallsWaiting) {
    TJournal journal;
    TTempDir dir;
    WriteRules(dir, "db;30 мин;journal\r\n");
    TAlerter alerter(dir.File(kAlertRulesFileName), dir.Path());
    TConditionWatch watch(alerter);
    const auto t0 = std::chrono::steady_clock::now();
    watch.Shipping(true, 0, t0);
    watch.Shipping(true, 0, t0 + std::chrono::minutes(40));
    EXPECT_FALSE(alerter.Raised(TAlertKind::Db));
    watch.Shipping(true, 1, t0 + std::chrono::minutes(41));
    watch.Shipping(true, 3, t0 + std::chrono::minutes(70));
    EXPECT_FALSE(alerter.Raised(TAlertKind::Db));
    watch.Shipping(true, 4, t0 + std::chrono::minutes(71));
    EXPECT_TRUE(alerter.Raised(TAlertKind::Db));
}

}  // namespace
