#pragma once

#include <QString>
#include <QStringList>

namespace vexal {

// The program's command line as one string: its arguments after the
// program's name, joined by single blanks. Empty when there are none.
QString commandLineFromArguments(const QStringList &arguments);

} // namespace vexal
