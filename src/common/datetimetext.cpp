#include "common/datetimetext.h"

namespace vexal {

namespace {

// A piece of a Qt date or time format: a run of one pattern letter, or
// literal text (quoted sections included, quotes kept).
struct FormatPiece
{
    QString text;
    bool field = false;
};

bool isPatternLetter(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

QList<FormatPiece> splitFormat(const QString &format)
{
    QList<FormatPiece> pieces;
    qsizetype i = 0;
    while (i < format.size()) {
        const QChar c = format.at(i);
        if (c == QLatin1Char('\'')) {
            qsizetype end = format.indexOf(QLatin1Char('\''), i + 1);
            end = end < 0 ? format.size() : end + 1;
            if (pieces.isEmpty() || pieces.last().field)
                pieces.append({QString(), false});
            pieces.last().text += format.mid(i, end - i);
            i = end;
        } else if (isPatternLetter(c)) {
            qsizetype end = i;
            while (end < format.size() && format.at(end) == c)
                ++end;
            pieces.append({format.mid(i, end - i), true});
            i = end;
        } else {
            if (pieces.isEmpty() || pieces.last().field)
                pieces.append({QString(), false});
            pieces.last().text += c;
            ++i;
        }
    }
    return pieces;
}

QString joinFormat(const QList<FormatPiece> &pieces)
{
    QString format;
    for (const FormatPiece &piece : pieces)
        format += piece.text;
    return format;
}

// Recent locale data puts a narrow no-break space before AM/PM; a log file
// is read with grep and old editors, so the blank stays a plain one.
QString plainBlanks(QString text)
{
    text.replace(QChar(0x202F), QLatin1Char(' '));
    text.replace(QChar(0x00A0), QLatin1Char(' '));
    return text;
}

QString fourDigitYearDateFormat(const QLocale &locale)
{
    QList<FormatPiece> pieces = splitFormat(locale.dateFormat(QLocale::ShortFormat));
    for (FormatPiece &piece : pieces) {
        if (piece.field && piece.text.at(0) == QLatin1Char('y'))
            piece.text = QStringLiteral("yyyy");
    }
    return plainBlanks(joinFormat(pieces));
}

QString timeFormatWithoutZone(const QLocale &locale)
{
    QList<FormatPiece> pieces = splitFormat(locale.timeFormat(QLocale::LongFormat));
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        if (!pieces.at(i).field || pieces.at(i).text.at(0) != QLatin1Char('t'))
            continue;
        // The zone goes with what joined it to the time: the blank before it
        // ("h:mm:ss AP t"), a comma ("h:mm:ss AP, t"), brackets around it
        // ("H:mm:ss (t)", "h:mm:ss [t]") or, at the front, the blank after it
        // ("t HH:mm:ss"). Left behind, they would end every log line.
        pieces.removeAt(i);
        if (i > 0 && !pieces.at(i - 1).field) {
            QString &before = pieces[i - 1].text;
            while (!before.isEmpty() && QStringView(u" ,([").contains(before.back()))
                before.chop(1);
        }
        if (i < pieces.size() && !pieces.at(i).field) {
            QString &after = pieces[i].text;
            while (!after.isEmpty() && QStringView(u" )]").contains(after.front()))
                after.remove(0, 1);
        }
        --i;
    }
    return plainBlanks(joinFormat(pieces).trimmed());
}

// The literal text between the first two fields of a format.
QString firstSeparator(const QString &format, const QString &fallback)
{
    const QList<FormatPiece> pieces = splitFormat(format);
    bool seenField = false;
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        if (pieces.at(i).field) {
            // The AM/PM marker ("AP", "ap") is not a field a separator follows.
            const QChar letter = pieces.at(i).text.at(0).toLower();
            if (letter == QLatin1Char('a') || letter == QLatin1Char('p'))
                continue;
            if (seenField)
                break;
            seenField = true;
        } else if (seenField && i + 1 < pieces.size()) {
            const QString &text = pieces.at(i).text;
            if (!text.contains(QLatin1Char('\'')))
                return text;
            break;
        }
    }
    return fallback;
}

} // namespace

QString generalDateTimeText(const QDateTime &when, const QLocale &locale)
{
    return locale.toString(when.date(), fourDigitYearDateFormat(locale)) + QLatin1Char(' ')
        + locale.toString(when.time(), timeFormatWithoutZone(locale));
}

QString timeStampText(const QDateTime &when, const QLocale &locale)
{
    // Only the words follow the locale; the numbers keep the fixed layout.
    const QTime time = when.time();
    const QTime twelveHour((time.hour() + 11) % 12 + 1, time.minute(), time.second());
    const QLocale c = QLocale::c();
    return plainBlanks(locale.monthName(when.date().month(), QLocale::ShortFormat) + QLatin1Char(' ')
                       + c.toString(when.date(), QStringLiteral("d, yyyy "))
                       + c.toString(twelveHour, QStringLiteral("hh:mm:ss "))
                       + (time.hour() < 12 ? locale.amText() : locale.pmText()));
}

QString dateSeparator(const QLocale &locale)
{
    return firstSeparator(locale.dateFormat(QLocale::ShortFormat), QStringLiteral("/"));
}

QString timeSeparator(const QLocale &locale)
{
    return firstSeparator(locale.timeFormat(QLocale::ShortFormat), QStringLiteral(":"));
}

} // namespace vexal
