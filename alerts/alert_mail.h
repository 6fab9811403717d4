// Alerts by mail through the sendmail interface every mail transfer agent
// offers (exim, postfix, msmtp): the message on the program's standard
// input, its recipients taken from its headers.
#pragma once

#include <atomic>
#include <chrono>
#include <ctime>
#include <string>
#include <vector>

#include "alerts/alert.h"

// The message of one mail to to about alerts (one or several of one rule),
// as sendmail -t reads it: headers (the Subject RFC 2047-encoded UTF-8,
// the Message-ID made of the first alert's key and the count, so that a
// mail sent twice is recognised), LF line ends, the Russian body in UTF-8
// with each call's line.
std::string ComposeAlertMail(const std::vector<const TAlert*>& alerts, const std::string& to,
                             const std::string& host, std::time_t now);

// Subject text as RFC 2047 encoded words (=?UTF-8?B?...?=), split at
// character boundaries so that no word is longer than 75 characters.
std::string EncodedSubject(const std::string& text);

// Runs sendmail (a path, no shell) with "-t -oi", message on its standard
// input. Empty when it exited with status 0, else why not (its status or
// signal and the start of what it wrote to standard error). Gives up,
// killing it, after timeout or as soon as stop is set.
std::string RunSendmail(const std::string& sendmail, const std::string& message,
                        const std::atomic<bool>& stop, std::chrono::milliseconds timeout);

// This computer's name for the From address and the Message-ID.
std::string MailHostName();
