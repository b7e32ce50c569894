// The mails of the comparison folder, "Personal Folders/Shared" of the fake automation
// server (FakeOutlookServer.cpp), as the server gives them. The same mails lie in
// tests/data/com/shared-inbox.mbox for the mailbox backend (made by make-shared-inbox.py
// there), and both exports must give the pages in tests/data/com/shared-pages/.
//
// Times are local date values of a Central European clock (CET in winter, CEST in summer):
// the mailbox backend turns the zoned header times of the mbox into local time, so its side
// of the comparison runs in that zone. Size is what the mailbox backend counts for each
// mail in the file. SharedInboxTest checks every value here against what the mailbox
// backend reads from the mbox, so the two cannot drift apart unnoticed.
//
// No system headers: the fake server (Windows) and the mailbox tests (everywhere) share it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillmark::test::shared {

// Days since 1899-12-30 of a calendar date and time of day.
constexpr double DateValue(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    // Days from the civil calendar (proleptic Gregorian), counted from 1970-01-01.
    const int y = month <= 2 ? year - 1 : year;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long days1970 = static_cast<long>(era) * 146097 + doe - 719468;
    return 25569.0 + static_cast<double>(days1970) + (hour * 3600 + minute * 60 + second) / 86400.0;
}

struct SharedAttachment {
    std::u16string FileName;
    std::string Bytes;
};

struct SharedItem {
    bool IsMail = true; // false: an item without the mail interface, passed over by the export
    std::u16string Subject, Body, SenderName, To;
    double ReceivedTime = 0, CreationTime = 0;
    std::int32_t Size = 0;
    bool UnRead = false;
    std::vector<SharedAttachment> Attachments;
};

template <std::size_t N>
std::string Bytes(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

inline std::string ChartPng() {
    return Bytes("\x89\x50\x4E\x47\x0D\x0A\x1A\x0A\x00\x00\x00\x0D\x49\x48\x44\x52\x00\x00\x00\x02\x00\x00\x00\x02\x08"
                 "\x02\x00\x00\x00\xFD\xD4\x9A\x73\x00\x00\x00\x13\x49\x44\x41\x54\x78\xDA\x63\x38\x21\x27\x17\xB0\xE0"
                 "\x3F\x03\x10\x03\x59\x00\x29\x4E\x05\xE7\x50\xC4\x56\x11\x00\x00\x00\x00\x49\x45\x4E\x44\xAE\x42\x60"
                 "\x82");
}

inline const std::vector<SharedItem>& SharedInboxItems() {
    static const std::vector<SharedItem> items = [] {
        const std::string report = "figures\r\nQ1: 10\r\n";
        std::vector<SharedItem> v(6);

        SharedItem& m1 = v[0];
        m1.Subject = u"Quarterly report & <figures>";
        m1.Body = u"Hello Ann,\r\nthe figures are attached: Q1 < Q2 & Q3 > Q4.\r\n"
                  u"Price: 12 \u20AC, margin \u2013 3 %; see \u0141\u00F3d\u017A.\r\n";
        m1.SenderName = u"Bo Berg";
        m1.To = u"Ann Andersson; Cecilia \u00C5str\u00F6m";
        m1.ReceivedTime = DateValue(2005, 3, 1, 12, 0, 0);
        m1.CreationTime = DateValue(2005, 3, 1, 11, 30, 0);
        m1.Size = 1066;
        m1.UnRead = true;
        m1.Attachments = {{u"report.txt", report}, {u"chart.png", ChartPng()}};

        // An appointment in the server; a deleted message still in the mbox.
        SharedItem& other = v[1];
        other.IsMail = false;
        other.Subject = u"Dentist";

        SharedItem& m3 = v[2];
        m3.Subject = u"M\u00F6te \u2013 \u4F1A\u8BAE";
        m3.Body = u"Agenda:\r\n1. \u4F1A\u8BAE plan\r\n2. Fika <3\r\n";
        m3.SenderName = u"Cecilia \u00C5str\u00F6m";
        m3.To = u"Ann Andersson";
        m3.ReceivedTime = DateValue(2005, 7, 15, 9, 5, 30);
        m3.CreationTime = DateValue(2005, 7, 15, 9, 0, 0);
        m3.Size = 442;

        SharedItem& m4 = v[3];
        m4.Subject = u"Quarterly report & <figures>";
        m4.Body = u"Second try, with the corrected figures.\r\n";
        m4.SenderName = u"Bo Berg";
        m4.To = u"Ann Andersson";
        m4.ReceivedTime = DateValue(2005, 3, 1, 12, 0, 40);
        m4.CreationTime = DateValue(2005, 3, 1, 11, 45, 0);
        m4.Size = 887;
        m4.Attachments = {{u"report.txt", "figures, corrected\r\nQ1: 11\r\n"}, {u"chart.png", ChartPng()}};

        SharedItem& m5 = v[4];
        m5.Subject = u"Re: Happy new year";
        m5.Body = u"Happy new year & thanks!\r\n\u2014 Dora \U0001F389\r\n";
        m5.SenderName = u"dora@example.org";
        m5.To = u"Ann Andersson; Bo Berg";
        m5.ReceivedTime = DateValue(2006, 1, 2, 10, 0, 0);
        m5.CreationTime = DateValue(2006, 1, 2, 9, 59, 59);
        m5.Size = 1123;
        m5.Attachments = {{u"report.txt", report}, {u"notes (draft).txt", "one\ntwo\n"}, {u"chart.png", ChartPng()}};

        SharedItem& m6 = v[5];
        m6.Subject = u"";
        m6.Body = u"Hej!\r\nVi ses p\u00E5 fredag.\r\n";
        m6.SenderName = u"Erik Ek";
        m6.To = u"Ann Andersson";
        m6.ReceivedTime = DateValue(2006, 2, 28, 23, 59, 0);
        m6.CreationTime = DateValue(2006, 3, 1, 0, 30, 0);
        m6.Size = 381;
        m6.UnRead = true;
        return v;
    }();
    return items;
}

} // namespace quillmark::test::shared
