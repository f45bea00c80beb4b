#include "qtprinters.h"

#include "addresses/ipfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

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

QString writeFile(const QTemporaryDir &dir, const QByteArray &bytes)
{
    const QString path = dir.filePath(QStringLiteral("in.ip"));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    return path;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

TEST(IPFile, WriterBytesAndReadBack)
{
    const QByteArray seven = "0,11\r\n1,1\r\n1,2\r\n2,256\r\n3,2\r\n3,3\r\n3,4\r\n";
    const AddressSet example = pick({{0, {10}}, {1, {0, 1}}, {2, {255}}, {3, {1, 2, 3}}});
    QTemporaryDir dir;
    const QString path = writeFile(dir, QByteArray(20000, 'x')); // emptied first
    ASSERT_EQ(writeFileToDisk(path, example), IPFileWrite::Written);
    EXPECT_EQ(readFile(path), seven);

    ASSERT_EQ(writeFileToDisk(path, allButFirstZero()), IPFileWrite::Written);
    const QByteArray all = readFile(path);
    EXPECT_EQ(all.count("\r\n"), 1023);
    EXPECT_EQ(all.count('\n'), 1023);
    EXPECT_TRUE(all.startsWith("0,2\r\n0,3\r\n"));
    EXPECT_TRUE(all.contains("\r\n0,256\r\n1,1\r\n"));
    EXPECT_TRUE(all.endsWith("\r\n3,255\r\n3,256\r\n"));

    AddressSet scattered;
    for (int k = 0; k < 4; ++k)
        for (int value = k; value < 256; value += 7 + k)
            scattered[std::size_t(k)].setSelected(value, true);
    for (const AddressSet &lists : {example, allButFirstZero(), scattered, AddressSet{},
                                    AddressSet{OctetList::all(), OctetList::all(), OctetList::all(),
                                               OctetList::all()}}) {
        ASSERT_EQ(writeFileToDisk(path, lists), IPFileWrite::Written);
        EXPECT_TRUE(readIPFile(path) == lists);
    }
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
        {"duplicates", "1,5\r\n1,5\r\n1,5\r\n", pick({{1, {4}}})},
        {"another order", "3,2\r\n0,9\r\n3,1\r\n", pick({{0, {8}}, {3, {0, 1}}})},
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
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = writeFile(dir, c.text);
        EXPECT_TRUE(readIPFile(path) == c.expected);
        EXPECT_EQ(correctIPFileType(path), c.expected.has_value());
        if (c.expected) {
            EXPECT_TRUE(readAndPopulate(path) == *c.expected);
        }
    }
    // A file changed after its check: the pairs before the bad one count.
    EXPECT_TRUE(readAndPopulate(writeFile(dir, "0,1\r\n1,2\r\n9,9\r\n2,3\r\n"))
                == pick({{0, {0}}, {1, {1}}}));

    QDir(dir.path()).mkdir(QStringLiteral("folder.ip"));
    for (const QString &name : {QString(), dir.filePath(QStringLiteral("missing.ip")),
                                dir.filePath(QStringLiteral("folder.ip"))}) {
        EXPECT_FALSE(correctIPFileType(name)) << name.toStdString();
        EXPECT_TRUE(readAndPopulate(name) == AddressSet{});
    }
}

namespace {

// Runs body in a child process, inside its own mount namespace, on a fresh
// tmpfs; the host's mounts are never touched. Returns the child's exit
// status, or -1 with skip set when this machine cannot do it.
int onPrivateTmpfs(unsigned long flags, const char *options, const std::function<int(QString)> &body,
                   std::string &skip)
{
    if (geteuid() != 0) {
        skip = "mounting a tmpfs needs root";
        return -1;
    }
    QTemporaryDir point;
    const pid_t child = fork();
    if (child == 0) {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            _exit(200);
        if (mount("tmpfs", point.path().toLocal8Bit().constData(), "tmpfs", flags, options) != 0)
            _exit(201);
        _exit(body(point.path()));
    }
    int status = 0;
    waitpid(child, &status, 0);
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (code >= 200)
        skip = code == 200 ? "no private mount namespace here" : "cannot mount a tmpfs here";
    return code;
}

} // namespace

TEST(IPFile, DiskFullIsToldApartFromOtherWriteErrors)
{
    const AddressSet lists = allButFirstZero(); // about 7 KB
    if (QFile::exists(QStringLiteral("/dev/full"))) {
        EXPECT_EQ(writeFileToDisk(QStringLiteral("/dev/full"), lists), IPFileWrite::DiskFull);
    }
    const struct
    {
        const char *name;
        unsigned long flags;
        const char *options;
        const char *file;
        IPFileWrite expected;
        qint64 sizeLeft; // -1: no file; a file cut short stays
    } cases[] = {
        {"one page of room", 0, "size=4k", "x.ip", IPFileWrite::DiskFull, 4096},
        {"read-only disk", MS_RDONLY, "size=64k", "x.ip", IPFileWrite::Failed, -1},
        {"folder missing", 0, "size=64k", "none/x.ip", IPFileWrite::Failed, -1},
        {"room enough", 0, "size=64k", "x.ip", IPFileWrite::Written, ipFileContents(lists).size()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string skip;
        const int status = onPrivateTmpfs(c.flags, c.options, [&](const QString &dir) {
            const QString path = dir + QLatin1Char('/') + QLatin1String(c.file);
            const IPFileWrite result = writeFileToDisk(path, lists);
            const qint64 size = QFile::exists(path) ? QFileInfo(path).size() : -1;
            return int(result) * 10 + (size == c.sizeLeft ? 0 : 1);
        }, skip);
        if (!skip.empty())
            GTEST_SKIP() << skip;
        EXPECT_EQ(status, int(c.expected) * 10);
    }
}
