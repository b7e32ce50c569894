// Dates of mail headers (Date, Received, Delivery-Date) read the way mail readers read them:
// RFC 5322 dates and their obsolete forms, plus what real mailers write instead.
//
// Accepted: an optional day name, day month year or month day ... year (the asctime form),
// years of two digits (00-49 are 20xx, 50-99 19xx) and three digits (+1900), a time h:mm
// or h:mm:ss (seconds may be missing, the zone may follow without a blank: "00:01+0000"),
// comments in parentheses anywhere. The zone: +hhmm / -hhmm, the RFC's names in any case
// ("cst", "Est"), a few common names of other zones, military letters.
//
// Never a silently shifted time: a time whose zone cannot be known (a military letter other
// than Z, which RFC 5322 says to read as -0000, an unknown name, no zone at all) is read as
// UTC and the result says so, for a warning. Anything that is no date gives nothing, never a
// guess.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillmark::outlook::mailbox {

struct MailDate {
    double Utc = 0.0;     // the date value in UTC
    bool ZoneKnown = true; // false: read as UTC for want of a zone; see Zone
    std::string Zone;      // the zone text as written when it was not known ("" when missing)
};

std::optional<MailDate> ParseMailDate(std::string_view text);

} // namespace quillmark::outlook::mailbox
