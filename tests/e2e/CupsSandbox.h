// A private CUPS scheduler for end-to-end tests, driven through
// scripts/cupsd-sandbox: our filter and the simulated printer (as the
// zorvan-sim backend) in a throw-away ServerBin, the shipped PPD, and lp,
// lpadmin and cancel talking to it over its own Unix socket.
#pragma once

#include "support/Process.h"

#include <map>
#include <string>
#include <vector>

namespace e2e {

// A fresh folder for a scheduler instance, removed with everything in it when
// the object goes. Always under /tmp whatever TMPDIR says: the lp user must be
// able to enter every folder above it, and a Unix socket path must stay short.
// path() is empty when it could not be made.
class TmpFolder {
public:
    TmpFolder();
    ~TmpFolder();
    TmpFolder(const TmpFolder&) = delete;
    TmpFolder& operator=(const TmpFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

class CupsSandbox {
public:
    // Starts the scheduler; the filter's printer waits are shortened to
    // `waitMs` milliseconds. Check ok() (and why()) before using it.
    explicit CupsSandbox(int waitMs = 20);
    ~CupsSandbox();  // stops the scheduler; the folder goes with it
    CupsSandbox(const CupsSandbox&) = delete;
    CupsSandbox& operator=(const CupsSandbox&) = delete;

    bool ok() const { return ok_; }
    const std::string& why() const { return why_; }
    const std::string& dir() const { return tmp_.path(); }

    // Adds an enabled queue for the shipped PPD on the simulated printer.
    // `status` is the printer's status script ("" = always ready); speed 0
    // prints instantly.
    bool addQueue(const std::string& queue, const std::string& status = "", int speedMmPerS = 0);

    // Submits a file with lp; returns the job id, or -1 (see why()).
    int print(const std::string& queue, const std::string& file, const std::vector<std::string>& lpArgs = {});

    // Waits until the job is final (completed, cancelled, aborted, stopped),
    // at most `seconds`; returns the state, or the last one seen.
    std::string waitJob(int job, int seconds);
    std::string jobState(int job);
    // Printer state and message, e.g. "processing: Status Process Error -- Out of paper."
    std::string printerState(const std::string& queue);

    bool cancel(int job);

    // What the simulated printer left for the job (paper.png, summary.txt, listing.txt).
    std::string paperDir(int job) const;
    std::map<std::string, std::string> summary(int job) const;

    // The scheduler's log lines of one job, "[Job N] " prefix stripped.
    std::vector<std::string> jobLog(int job) const;
    // The whole log, for failure messages.
    std::string errorLog() const;

    testsupport::ProcessResult run(const std::vector<std::string>& argv);

private:
    TmpFolder tmp_;
    std::string script_;
    std::string socket_;
    bool ok_ = false;
    bool started_ = false;
    std::string why_;
};

// True when this machine can run a private scheduler here (root, cupsd, the
// CUPS converters and the simulated printer); otherwise the reason.
bool canRunCups(std::string& reason);

// Lines of `lines` containing `text`, and lines that are exactly `text`.
int countContaining(const std::vector<std::string>& lines, const std::string& text);
int countEqual(const std::vector<std::string>& lines, const std::string& text);

}  // namespace e2e
