#include "app/cli/ExportProgress.h"

#include "SrcLib/uLib.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>

namespace quillmark::cli {

std::string DurationText(double seconds) {
    const long long total = seconds > 0 ? static_cast<long long>(std::llround(seconds)) : 0;
    char buf[32];
    if (total >= 3600)
        std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
    else
        std::snprintf(buf, sizeof buf, "%lld:%02lld", total / 60, total % 60);
    return buf;
}

std::string ProgressLine(int done, int total, double seconds, const std::string& status) {
    constexpr int width = 30;
    const int filled =
        total > 0 ? static_cast<int>(static_cast<long long>(std::min(done, total)) * width / total) : width;
    std::string line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                       std::string(static_cast<std::size_t>(width - filled), '.') + "] " + std::to_string(done) + "/" +
                       std::to_string(total) + " mails";
    if (seconds >= 1 && done > 0) {
        const double rate = done / seconds;
        char buf[32];
        std::snprintf(buf, sizeof buf, rate < 10 ? "%.1f/s" : "%.0f/s", rate);
        line += "  ";
        line += buf;
        line += "  " + DurationText((total - done) / rate) + " left";
    }
    if (!status.empty()) line += "  " + status;
    return line;
}

ExportProgress::ExportProgress(Settings settings, std::ostream& out, std::ostream& err)
    : settings_(std::move(settings)), out_(out), err_(err) {}

void ExportProgress::ShowStatus(const std::string& text, int) {
    if (settings_.Quiet || !settings_.Terminal) return;
    status_ = text;
    Draw(false);
}

void ExportProgress::ShowRunEvent(RunEvent event, const std::string& text, int mode) {
    switch (event) {
    case RunEvent::MailPassed:
    case RunEvent::MailFiltered:
        if (settings_.Quiet) return;
        if (settings_.Terminal) {
            ShowStatus(text, mode);
        } else if (settings_.MailLines) {
            out_ << (event == RunEvent::MailFiltered ? "skipped " : "") << text << '\n';
        }
        return;
    case RunEvent::SubjectExpressionError:
        // Every expression was compiled before the run began; should one still fail here, it
        // is said once, not once per mail.
        return;
    case RunEvent::Completed:
    case RunEvent::CompletedWithFailures:
    case RunEvent::Stopped:
    case RunEvent::DiskFull:
        // The end of the run is told by the summary and the exit status; each failure was
        // named on standard error as it happened, and a full disk comes as the error that
        // ends the program.
        return;
    }
}

void ExportProgress::ReportFailure(const std::string& text) {
    // Failures go to standard error whatever --quiet says: a script must be able to see them.
    ClearLine();
    err_ << settings_.Program << ": failed: " << text << '\n';
}

void ExportProgress::ShowNotice(const std::string& text) {
    if (settings_.Quiet) return;
    ClearLine();
    err_ << settings_.Program << ": note: " << text << '\n';
}

void ExportProgress::SetProgressMax(int maximum) {
    max_ = maximum;
    start_ = std::chrono::steady_clock::now();
}

void ExportProgress::ProcessPendingEvents() {
    if (interrupted_ && *interrupted_ && run_ && !run_->StopRequested) {
        run_->RequestStop();
        status_ = "Break.";
    }
}

void ExportProgress::Finish() {
    if (!settings_.Quiet && settings_.Terminal && drawn_) {
        Draw(true);
        err_ << '\n';
        drawn_ = false;
    }
}

// The progress line shares standard error: a message starts on a line of its own, and the
// line is drawn again below it.
void ExportProgress::ClearLine() {
    if (settings_.Terminal && drawn_) err_ << "\r\x1b[K";
    drawn_ = false;
}

void ExportProgress::Draw(bool force) {
    // Redrawing for every mail of a large folder would cost more than the export; a few
    // times a second is all an eye can follow.
    const auto now = std::chrono::steady_clock::now();
    if (!force && drawn_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    drawn_ = true;
    std::string status = status_;
    status = Utf8Prefix(status, 50);
    const double seconds = std::chrono::duration<double>(now - start_).count();
    err_ << '\r' << ProgressLine(position_, max_, seconds, status) << "\x1b[K" << std::flush;
}

} // namespace quillmark::cli
