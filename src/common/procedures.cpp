#include "common/procedures.h"

#include "common/lockedfile.h"
#include "common/numerictext.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace vexal {

namespace {

std::optional<quint8> byteValue(const QString &part)
{
    const std::optional<double> value = numericValue(part);
    if (!value)
        return std::nullopt;
    const long long whole = roundHalfEven(*value);
    if (whole < 0 || whole > 255)
        return std::nullopt;
    return quint8(whole);
}

} // namespace

bool fileInUse(const QString &path)
{
    LockedFile file;
    if (file.open(path, true) != LockedFile::OpenResult::Opened)
        return true;
    return !file.close();
}

bool fileExists(const QString &path)
{
    if (path.isEmpty())
        return false;
    // Only a regular file: whoever asks goes on to open it, and opening a
    // FIFO blocks while opening a device can set it off.
    const QFileInfo info(path);
    return info.isFile() && info.lastModified().isValid();
}

bool validFile(const QString &name)
{
    // A pipe or a device named as on Windows is no file, though it may
    // open as one.
    if (name.isEmpty() || namesDevice(name))
        return false;
    const QFileInfo info(name);
    if (info.exists()) {
        // Never opened unless regular: opening a FIFO for writing blocks.
        if (!info.isFile())
            return false;
        QFile file(name);
        // Append and ExistingOnly: neither creates nor truncates.
        return file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly);
    }
    // NewOnly (O_EXCL) also refuses a dangling symbolic link, so the probe
    // never creates a file somewhere else that it would then fail to remove.
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    file.close();
    file.remove();
    return true;
}

std::optional<Octets> ipOctets(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    Octets octets{};
    for (int k = 0; k < 4; ++k) {
        if (parts.at(k).size() > 3)
            return std::nullopt;
        const std::optional<quint8> value = byteValue(parts.at(k));
        if (!value)
            return std::nullopt;
        octets[k] = *value;
    }
    return octets;
}

bool isValidIP(const QString &text)
{
    return ipOctets(text).has_value();
}

std::optional<Octets> splitAddress(const QString &text)
{
    Octets octets{};
    int position = 0;
    QString part;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text.at(i) != QLatin1Char('.')) {
            part += text.at(i);
            continue;
        }
        const std::optional<quint8> value = byteValue(part);
        if (!value || position == 4)
            return std::nullopt;
        octets[position++] = *value;
        part.clear();
    }
    if (position != 4)
        return std::nullopt;
    return octets;
}

} // namespace vexal
