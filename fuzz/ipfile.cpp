// The IP file reader and its validity check, fed the input as a real file.
#include "addresses/ipfile.h"
#include "fuzzcheck.h"

#include <QFile>
#include <QTemporaryDir>

using namespace vexal;
using vexal::fuzz::require;

namespace {

QString scratchFile(const char *name)
{
    static const QTemporaryDir folder;
    return folder.filePath(QString::fromLatin1(name));
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const quint8 *data, std::size_t size)
{
    const QByteArrayView bytes(data, qsizetype(size));
    const std::optional<AddressSet> parsed = parseIPFile(bytes);

    const QString in = scratchFile("in.ip");
    {
        QFile file(in);
        require(file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                    && file.write(bytes.data(), bytes.size()) == bytes.size(),
                "the scratch file takes the input");
    }
    require(correctIPFileType(in) == parsed.has_value(), "the file check agrees with the parser");
    require(readIPFile(in) == parsed, "the file reads to the parser's selections");
    const AddressSet populated = readAndPopulate(in);
    if (!parsed)
        return 0;
    require(populated == *parsed, "a file that passed the check populates its own selections");

    // Saving what was read and opening it again changes nothing.
    const QString out = scratchFile("out.ip");
    require(writeFileToDisk(out, *parsed) == IPFileWrite::Written, "the selections are saved");
    require(contents(out) == ipFileContents(*parsed), "the saved file holds the writer's bytes");
    require(readIPFile(out) == parsed, "a saved file reads back to the same selections");
    return 0;
}
