// Opens a generated mbox of n mails and reads Subject, Body, ReceivedTime and the
// attachment names of every item, the work an export does per mail before the template.
//
//   mailbox_bench                          the benchmark at 10 000 and 100 000 mails
//   mailbox_bench --write-mbox=PATH --mails=N   only write the generated mbox (for the
//                                          side-by-side script bench/mailbox_compare.py)
//   mailbox_bench --read-mbox=PATH         one timed pass over PATH, printed as
//                                          "mails=N seconds=S" (for the same script)
#include "outlook/ObjectModel.h"
#include "outlook/mailbox/MailboxStore.h"
#include "platform/FileSystem.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>

using namespace quillmark;
using namespace quillmark::outlook;

namespace {

// A deterministic mix: plain UTF-8 mail, encoded-word subjects with quoted-printable
// Latin-1 bodies, multipart/alternative, and mail with a base64 attachment.
void WriteMbox(const std::filesystem::path& path, int mails) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::mt19937 rng(20261208);
    static const char* const words[] = {"concert", "rehearsal", "budget", "tickets", "hall", "music",
                                        "stands",  "summer",    "tour",   "voices",  "alto", "tenor"};
    auto sentence = [&](int n) {
        std::string s;
        for (int i = 0; i < n; ++i) {
            if (i) s += ' ';
            s += words[rng() % 12];
        }
        return s;
    };
    auto body = [&]() {
        std::string b;
        const int lines = 8 + static_cast<int>(rng() % 16);
        for (int i = 0; i < lines; ++i) b += sentence(8 + static_cast<int>(rng() % 6)) + "\n";
        return b;
    };
    std::string attachment;
    for (int i = 0; i < 1600; ++i) attachment += static_cast<char>(rng() & 0xFF);
    static const char b64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string encoded;
    for (std::size_t i = 0; i + 2 < attachment.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(attachment[i]) << 16) |
                           (static_cast<unsigned char>(attachment[i + 1]) << 8) | static_cast<unsigned char>(attachment[i + 2]);
        encoded += b64[(v >> 18) & 63];
        encoded += b64[(v >> 12) & 63];
        encoded += b64[(v >> 6) & 63];
        encoded += b64[v & 63];
        if (encoded.size() % 77 == 76) encoded += '\n';
    }
    for (int n = 0; n < mails; ++n) {
        const int day = 1 + n % 28, hour = n % 24, minute = n % 60;
        char date[64];
        std::snprintf(date, sizeof date, "Mon, %02d Mar 2025 %02d:%02d:00 +0100", day, hour, minute);
        std::string m = "From sender@example.org Mon Mar  3 10:00:00 2025\n";
        m += std::string("Received: from mx.example.org by mail.example.org; ") + date + "\n";
        m += "From: Sender " + std::to_string(n % 97) + " <s" + std::to_string(n % 97) + "@example.org>\n";
        m += "To: Choir <all@example.org>, Anna <anna@example.org>\n";
        m += std::string("Date: ") + date + "\n";
        m += "Message-ID: <bench-" + std::to_string(n) + "@example.org>\n";
        const int kind = static_cast<int>(rng() % 20);
        if (kind < 12) {
            m += "Subject: " + sentence(4) + " " + std::to_string(n) + "\n";
            m += "Content-Type: text/plain; charset=utf-8\n\n" + body();
        } else if (kind < 15) {
            m += "Subject: =?ISO-8859-1?Q?Gr=FC=DFe_aus_K=F6ln?= " + std::to_string(n) + "\n";
            m += "Content-Type: text/plain; charset=iso-8859-1\nContent-Transfer-Encoding: quoted-printable\n\n";
            m += "Sch=F6ne Gr=FC=DFe\n" + body();
        } else if (kind < 18) {
            m += "Subject: " + sentence(3) + " " + std::to_string(n) + "\nMIME-Version: 1.0\n";
            m += "Content-Type: multipart/alternative; boundary=alt" + std::to_string(n) + "\n\n";
            const std::string b = body();
            m += "--alt" + std::to_string(n) + "\nContent-Type: text/plain; charset=utf-8\n\n" + b;
            m += "--alt" + std::to_string(n) + "\nContent-Type: text/html; charset=utf-8\n\n<html><body><p>" + b +
                 "</p></body></html>\n--alt" + std::to_string(n) + "--\n";
        } else {
            m += "Subject: " + sentence(3) + " with file " + std::to_string(n) + "\nMIME-Version: 1.0\n";
            m += "Content-Type: multipart/mixed; boundary=mix" + std::to_string(n) + "\n\n";
            m += "--mix" + std::to_string(n) + "\nContent-Type: text/plain; charset=utf-8\n\n" + body();
            m += "--mix" + std::to_string(n) + "\nContent-Type: application/pdf\n";
            m += "Content-Disposition: attachment; filename*=UTF-8''Pr%C3%BCfung%20" + std::to_string(n) + ".pdf\n";
            m += "Content-Transfer-Encoding: base64\n\n" + encoded + "\n--mix" + std::to_string(n) + "--\n";
        }
        out << m << "\n";
    }
}

struct PassResult {
    int mails = 0;
    std::size_t checksum = 0; // keeps the reads from being optimised away
};

PassResult ReadAll(const std::string& path) {
    PassResult r;
    auto warnings = std::make_shared<WarningSink>();
    warnings->SetHandler([](const std::string&) {});
    auto store = mailbox::OpenMailboxStore(path, warnings);
    auto items = store->TopFolder()->Items();
    const int n = items->Count();
    for (int i = 1; i <= n; ++i) {
        auto mail = items->Item(i)->QueryMailItem();
        r.checksum += mail->GetText(dispid::Subject).size();
        r.checksum += mail->GetText(dispid::Body).size();
        r.checksum += static_cast<std::size_t>(mail->GetDate(dispid::ReceivedTime));
        auto atts = mail->Attachments();
        for (int k = 1; k <= atts->Count(); ++k) r.checksum += atts->Item(k)->FileName().size();
        ++r.mails;
    }
    return r;
}

std::map<int, std::filesystem::path>& Files() {
    static std::map<int, std::filesystem::path> files;
    return files;
}

const std::filesystem::path& MboxOf(int mails) {
    auto& files = Files();
    auto it = files.find(mails);
    if (it != files.end()) return it->second;
    auto path = std::filesystem::temp_directory_path() / ("quillmark-bench-" + std::to_string(mails) + ".mbox");
    WriteMbox(path, mails);
    return files.emplace(mails, path).first->second;
}

void BM_ReadMbox(benchmark::State& state) {
    const int mails = static_cast<int>(state.range(0));
    const std::string path = platform::Utf8Path(MboxOf(mails));
    for (auto _ : state) {
        auto r = ReadAll(path);
        benchmark::DoNotOptimize(r.checksum);
        if (r.mails != mails) state.SkipWithError("wrong mail count");
    }
    state.SetItemsProcessed(state.iterations() * mails);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(std::filesystem::file_size(MboxOf(mails))));
}
BENCHMARK(BM_ReadMbox)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv) {
    std::string write, read;
    int mails = 10000;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--write-mbox=", 13) == 0) write = argv[i] + 13;
        else if (std::strncmp(argv[i], "--read-mbox=", 12) == 0) read = argv[i] + 12;
        else if (std::strncmp(argv[i], "--mails=", 8) == 0) mails = std::atoi(argv[i] + 8);
    }
    if (!write.empty()) {
        WriteMbox(write, mails);
        return 0;
    }
    if (!read.empty()) {
        const auto start = std::chrono::steady_clock::now();
        const auto r = ReadAll(read);
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("mails=%d seconds=%.3f checksum=%zu\n", r.mails, s, r.checksum);
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (const auto& [n, p] : Files()) std::filesystem::remove(p);
    return 0;
}
