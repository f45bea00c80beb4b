#pragma once

#include "sweep/arppacket.h"
#include "windows/backgroundwork.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <optional>

namespace vexal {

// Who makes a network card, from the IEEE's registry of 24-bit prefixes
// (OUI) as Debian's ieee-data installs it. The file is some 5 MB and most
// sessions never ask, so it is read on a worker the first time a vendor is
// asked for; a missing or unreadable file names no vendor.
class VendorRegistry final : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *DefaultFile = "/usr/share/ieee-data/oui.txt";

    explicit VendorRegistry(const QString &file = QString::fromLatin1(DefaultFile), QObject *parent = nullptr);

    // The vendor of the address's prefix; nullopt while the registry is
    // being read (the first ask starts reading it) or when it names none.
    std::optional<QString> vendor(const HardwareAddress &address);

signals:
    // The registry has been read: vendors asked for before may now be known.
    void loaded();

private:
    // The registry's "00-00-5E   (hex)\t\tICANN, IANA Department" lines.
    static QHash<quint32, QString> read(const QString &file);

    enum class State { Unread, Reading, Read };

    QString m_file;
    State m_state = State::Unread;
    QHash<quint32, QString> m_vendors;
    BackgroundWork m_work{this};
};

} // namespace vexal
