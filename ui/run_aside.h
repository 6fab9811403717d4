// Long work of a window, done off its thread.
#pragma once

#include <functional>

#include "base/file_result.h"

// Runs job on a thread of its own while this thread serves its events, so
// that the window stays drawn (and a progress dialog answers) while the
// job runs; returns when the job has ended. before, when given, runs on
// this thread from the event loop just before the job starts (a Cancel
// pressed until then is seen there). job must not throw.
void RunAside(const std::function<void()>& job, const std::function<void()>& before = {});

// Runs write as RunAside runs a job and gives its result. A write that
// raises leaves its file as it was: Failed, with the system error a
// std::system_error carries, else ENOMEM (no memory for a text or a page).
TFileResult WriteAside(const std::function<TFileResult()>& write,
                       const std::function<void()>& before = {});
