#include "qtprinters.h"

#include "addresses/ipfile.h"
#include "fulldisk.h"
#include "realfiles.h"
#include "platformfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>


using namespace vexal;

namespace {

// Selections from (list, values) pairs.
AddressSet pick(std::initializer_list<std::pair<int, std::initializer_list<int>>> picks)
{
    AddressSet lists;
    for (const auto &[k, values] : picks)
        for (int value : values)
            lists[std::size_t(k)].setSelected(value, true);
    return lists;
}

AddressSet allButFirstZero()
{
    AddressSet lists{OctetList::all(), OctetList::all(), OctetList::all(), OctetList::all()};
    lists[0].setSelected(0, false);
    return lists;
}

} // namespace

TEST(IPFile, WriterBytesAndReadBack)
{
    const AddressSet example = pick({{0, {10}}, {1, {0, 1}}, {2, {255}}, {3, {1, 2, 3}}});
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("in.ip"));
    put(path, QByteArray(20000, 'x')); // emptied first
    ASSERT_EQ(writeFileToDisk(path, example), IPFileWrite::Written);
    EXPECT_EQ(contents(path), QByteArray("0,11\r\n1,1\r\n1,2\r\n2,256\r\n3,2\r\n3,3\r\n3,4\r\n"));
    for (const AddressSet &lists : {example, allButFirstZero(), AddressSet{}}) {
        ASSERT_EQ(writeFileToDisk(path, lists), IPFileWrite::Written);
        EXPECT_TRUE(readIPFile(path) == lists);
    }
    EXPECT_EQ(contents(path), QByteArray());
}

TEST(IPFile, ReaderHoldsEveryPairToTheRangesAndIsLenientInLayout)
{
    const struct
    {
        const char *name;
        QByteArray text;
        std::optional<AddressSet> expected;
    } cases[] = {
        {"empty file", "", AddressSet{}},
        {"blank lines only", "\r\n\n  \r\n", AddressSet{}},
        {"no line end at the end", "0,11\r\n3,256", pick({{0, {10}}, {3, {255}}})},
        {"LF and CR alone", "0,1\n2,3\r1,1\n", pick({{0, {0}}, {1, {0}}, {2, {2}}})},
        {"blanks, tabs, blank lines", " 0 ,\t5 \r\n\r\n 1, 6\t\r\n", pick({{0, {4}}, {1, {5}}})},
        {"pairs on one line", "0,1,1,2", pick({{0, {0}}, {1, {1}}})},
        {"pairs across lines", "0\r\n1\r\n1\r\n2\r\n", pick({{0, {0}}, {1, {1}}})},
        {"duplicates, another order", "3,2\r\n0,9\r\n3,1\r\n3,2\r\n", pick({{0, {8}}, {3, {0, 1}}})},
        {"leading zeros, a plus", "00,+0256", pick({{0, {255}}})},
        {"UTF-8 signature", "\xEF\xBB\xBF" "1,1\r\n", pick({{1, {0}}})},
        {"list 4", "4,1\r\n", std::nullopt},
        {"position 0", "0,0\r\n", std::nullopt},
        {"position 257", "0,257\r\n", std::nullopt},
        {"a lone 2 at the end", "0,1\r\n2\r\n", std::nullopt},
        {"beyond 16 bits", "0,32768\r\n", std::nullopt},
        {"far beyond", "0,99999999999999999999\r\n", std::nullopt},
        {"bad pair after good", "0,1\r\n1,300\r\n2,1\r\n", std::nullopt},
        {"empty field", "0,,1\r\n", std::nullopt},
        {"comma ending a line", "0,1,\r\n2,3\r\n", std::nullopt},
        {"leading comma", ",0,1\r\n", std::nullopt},
        {"blank inside a number", "0,1 2\r\n", std::nullopt},
        {"fraction", "0,1.5\r\n", std::nullopt},
        {"semicolon", "0;1\r\n", std::nullopt},
        {"NUL byte", QByteArray("0,1\0", 4), std::nullopt},
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("in.ip"));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        put(path, c.text);
        EXPECT_TRUE(readIPFile(path) == c.expected);
        EXPECT_EQ(correctIPFileType(path), c.expected.has_value());
    }
    // A file changed after its check: the pairs before the bad one count.
    put(path, "0,1\r\n1,2\r\n9,9\r\n2,3\r\n");
    EXPECT_TRUE(readAndPopulate(path) == pick({{0, {0}}, {1, {1}}}));
    // A file gone between its check and its read loads nothing, and is refused afterwards; so is
    // what is not a file, which is never opened (a FIFO without a writer would block the read).
    QDir(dir.path()).mkdir(QStringLiteral("folder.ip"));
    const QString fifo = platformfiles::fifo(QDir(dir.path()), QStringLiteral("fifo.ip"));
    ASSERT_FALSE(fifo.isEmpty());
    for (const QString &name : {QString(), dir.filePath(QStringLiteral("missing.ip")),
                                dir.filePath(QStringLiteral("folder.ip")), fifo, platformfiles::device()}) {
        EXPECT_FALSE(correctIPFileType(name)) << name.toStdString();
        EXPECT_TRUE(readAndPopulate(name) == AddressSet{});
    }
}

TEST(IPFile, DiskFullIsToldApartFromOtherWriteErrors)
{
    const AddressSet lists = allButFirstZero(); // about 7 KB
    // What is not a file is refused unopened: a FIFO with no reader would
    // block the save for ever.
    QTemporaryDir fifoDir;
    const QString fifo = platformfiles::fifo(QDir(fifoDir.path()), QStringLiteral("fifo.ip"));
    ASSERT_FALSE(fifo.isEmpty());
    for (const QString &device : {fifo, platformfiles::device()})
        EXPECT_EQ(writeFileToDisk(device, lists), IPFileWrite::Failed) << device.toStdString();
    const struct
    {
        qint64 room;
        bool readOnly;
        const char *file;
        IPFileWrite expected;
        qint64 sizeLeft; // -1: no file; a file cut short stays
    } cases[] = {
        {4096, false, "x.ip", IPFileWrite::DiskFull, 4096},
        {65536, false, "none/x.ip", IPFileWrite::Failed, -1},
        {65536, true, "x.ip", IPFileWrite::Failed, -1},
        {65536, false, "x.ip", IPFileWrite::Written, ipFileContents(lists).size()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file + std::to_string(c.room));
        fulldisk::TinyDisk disk(c.room);
        if (!disk.error().empty())
            GTEST_SKIP() << disk.error();
        const QString path = disk.filePath(QLatin1String(c.file));
        ASSERT_EQ(disk.setReadOnly(c.readOnly), "");
        EXPECT_EQ(writeFileToDisk(path, lists), c.expected);
        EXPECT_EQ(QFile::exists(path) ? QFileInfo(path).size() : -1, c.sizeLeft);
    }
}

TEST(IPFile, AMillionLinesLoadInBoundedMemory)
{
    QTemporaryDir dir;
    // Written a line at a time: a buffer of the whole file would raise the
    // peak the reader is measured against.
    QFile out(dir.filePath(QStringLiteral("big.ip")));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    for (int i = 0; i < 1000000; ++i)
        out.write(QByteArray::number(i % 4) + ',' + QByteArray::number((i / 4) % 256 + 1) + "\r\n");
    out.close();
    const qint64 before = platformfiles::peakResidentBytes();
    const std::optional<AddressSet> lists = readIPFile(out.fileName());
    EXPECT_LT(platformfiles::peakResidentBytes() - before, out.size() / 2) << "read in chunks, never whole";
    EXPECT_TRUE(lists == AddressSet({OctetList::all(), OctetList::all(), OctetList::all(), OctetList::all()}));
}
