#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

namespace vexal {

// The general date-time text of the logs: the locale's short date, widened
// to a four-digit year, one blank, then the locale's long time without its
// time-zone part. Under en_US: "12/5/2026 7:12:16 PM".
QString generalDateTimeText(const QDateTime &when, const QLocale &locale = QLocale());

// The start time's text, "Dec 5, 2026 07:12:16 PM" under en_US: the
// locale's month abbreviation, the day without a leading zero, the year, a
// 12-hour clock with two-digit fields and the locale's AM/PM designator as
// it spells it ("Dez. 5, 2026 07:12:16 PM", "dic 5, 2026 07:12:16 p. m.").
// The numbers keep their digits and the layout stays whatever the locale.
QString timeStampText(const QDateTime &when, const QLocale &locale = QLocale());

// The separator between the first two fields of the locale's short date
// ("/" for en_US, "." for de_DE) and between hours and minutes of its time
// (":" for en_US, "." for fi_FI); "/" and ":" when the format has none.
QString dateSeparator(const QLocale &locale = QLocale());
QString timeSeparator(const QLocale &locale = QLocale());

} // namespace vexal
