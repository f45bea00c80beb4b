#pragma once

#include <QString>

namespace vexal {

// A refusal to show the user: the message box's title and text. Checks
// return one instead of showing it, so that the logic stays apart from the
// window and the exact wording can be tested.
struct Complaint
{
    QString title;
    QString text;
};

} // namespace vexal
