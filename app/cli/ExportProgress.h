// The export run as the command line shows it: a progress line on a terminal, one line per
// mail otherwise, failures and notices on standard error.
#pragma once

#include "export/ExportRun.h"

#include <chrono>
#include <iosfwd>
#include <string>

namespace quillmark::cli {

// "[#########.....................] 120/500 mails  40.0/s  0:09 left  <status>": the bar,
// the mails done of all, the rate and the time left at that rate ("" for rate and time
// left until a second has gone by, as the first mails say little about the rest).
std::string ProgressLine(int done, int total, double seconds, const std::string& status);

// "0:09", "12:05", "1:02:03".
std::string DurationText(double seconds);

class ExportProgress : public ExportHost {
public:
    struct Settings {
        std::string Program;
        bool Quiet = false;    // nothing on standard output, no progress line
        bool Terminal = false; // standard error is a terminal: a progress line instead of mail lines
        bool MailLines = true; // one line per mail on standard output (off with --json)
    };
    ExportProgress(Settings settings, std::ostream& out, std::ostream& err);

    void Attach(ExportRun* run) { run_ = run; }
    // Set from the signal handler's flag: the run is asked to stop before its next mail.
    void SetInterrupted(const volatile int* flag) { interrupted_ = flag; }

    void ShowStatus(const std::string& text, int mode) override;
    void ShowRunEvent(RunEvent event, const std::string& text, int mode) override;
    void ReportFailure(const std::string& text) override;
    void ShowNotice(const std::string& text) override;
    void SetProgressMax(int maximum) override;
    void SetProgress(int position) override { position_ = position; }
    void ProcessPendingEvents() override;
    void SetFromText(const std::string& text) override { fromText_ = text; }

    // Ends the progress line (drawn once more in full) before the summary.
    void Finish();
    const std::string& FromText() const { return fromText_; }

private:
    void ClearLine();
    void Draw(bool force);

    Settings settings_;
    std::ostream& out_;
    std::ostream& err_;
    ExportRun* run_ = nullptr;
    const volatile int* interrupted_ = nullptr;
    int max_ = 0, position_ = 0;
    std::string status_, fromText_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_{}, lastDraw_{};
};

} // namespace quillmark::cli
