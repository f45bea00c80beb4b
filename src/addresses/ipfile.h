#pragma once

#include "addresses/octetlist.h"
#include "common/complaint.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace vexal {

// IP files keep the selections of the four lists: one "list,position" line
// per selected entry, list 0..3 and position 1..256 (the value plus one),
// each line ended by CR LF.

// The messages of the IP file commands, titled "IP File".
extern const Complaint InvalidIPFile;
extern const Complaint IPFileDiskFull;

enum class IPFileWrite {
    Written,
    DiskFull,
    Failed, // any other error: nothing is reported to the user
};

// The bytes of the file for these selections: list 0 first, ascending
// positions within a list.
QByteArray ipFileContents(const AddressSet &lists);

// Creates or empties the file and writes the selections. A file cut short by
// an error is left as it is.
IPFileWrite writeFileToDisk(const QString &name, const AddressSet &lists);

// The whole file read and held to the rules, or nothing when it is not a
// regular file (never opened then), cannot be opened or read, ends in the
// middle of a pair, or holds anything but whole numbers with the list in
// 0..3 and the position in 1..256.
//
// Reading is lenient beyond what the writer produces: line ends may be LF or
// CR alone, blanks and tabs may surround a number, blank lines are skipped,
// and a pair may be split across lines. Duplicate pairs are harmless.
std::optional<AddressSet> readIPFile(const QString &name);

// The same rules applied to the bytes of a file already in memory.
std::optional<AddressSet> parseIPFile(QByteArrayView bytes);

// True when readIPFile() accepts the file.
bool correctIPFileType(const QString &name);

// The selections of a file checked just before: every entry deselected, then
// the file's pairs selected in turn. Reading stops at the first pair that
// fails the rules (the file changed meanwhile); the pairs before it count.
AddressSet readAndPopulate(const QString &name);

} // namespace vexal
