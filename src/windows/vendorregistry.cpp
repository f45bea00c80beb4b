#include "windows/vendorregistry.h"

#include <QFile>

namespace vexal {

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// "00-00-5E": the prefix, or nullopt.
std::optional<quint32> prefix(const QByteArray &line)
{
    if (line.size() < 8 || line.at(2) != '-' || line.at(5) != '-')
        return std::nullopt;
    quint32 value = 0;
    for (int i : {0, 1, 3, 4, 6, 7}) {
        const int digit = hexDigit(line.at(i));
        if (digit < 0)
            return std::nullopt;
        value = value << 4 | quint32(digit);
    }
    return value;
}

} // namespace

VendorRegistry::VendorRegistry(const QString &file, QObject *parent)
    : QObject(parent)
    , m_file(file)
{
}

std::optional<QString> VendorRegistry::vendor(const HardwareAddress &address)
{
    if (m_state == State::Unread) {
        m_state = State::Reading;
        m_work.run([file = m_file] { return read(file); },
                   [this](const QHash<quint32, QString> &vendors) {
                       m_vendors = vendors;
                       m_state = State::Read;
                       emit loaded();
                   });
    }
    const auto found = m_vendors.constFind(quint32(address[0]) << 16 | quint32(address[1]) << 8 | address[2]);
    if (found == m_vendors.constEnd())
        return std::nullopt;
    return *found;
}

QHash<quint32, QString> VendorRegistry::read(const QString &file)
{
    QHash<quint32, QString> vendors;
    QFile registry(file);
    if (!registry.open(QIODevice::ReadOnly))
        return vendors;
    static const QByteArray Hex = QByteArrayLiteral("(hex)");
    // Each assignment is listed twice, as "00-00-5E (hex)" and "00005E
    // (base 16)"; the dashed line alone is read.
    while (!registry.atEnd()) {
        const QByteArray line = registry.readLine();
        const std::optional<quint32> key = prefix(line);
        const qsizetype hex = key ? line.indexOf(Hex, 8) : -1;
        if (hex < 0 || !line.mid(8, hex - 8).trimmed().isEmpty())
            continue;
        const QString name = QString::fromUtf8(line.mid(hex + Hex.size()).trimmed());
        if (!name.isEmpty())
            vendors.insert(*key, name);
    }
    return vendors;
}

} // namespace vexal
