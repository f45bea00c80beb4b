#pragma once

#include "windows/dialogs.h"

#include <cstdio>

namespace vexal {

// The dialogs of a run without a display: each message is written to a stream
// (standard error) as "Title: text" and answered with its default, OK, or
// Cancel where Retry and Cancel are offered, so that nobody is waited for.
// File dialogs have nobody to ask and are cancelled.
class ConsoleDialogs final : public Dialogs
{
public:
    explicit ConsoleDialogs(std::FILE *stream = stderr) : m_stream(stream) {}

    Answer message(QWidget *parent, const QString &title, const QString &text, Icon icon,
                   Buttons buttons) override;
    std::optional<QString> openFile(QWidget *parent, const FileRequest &request) override;
    std::optional<QString> saveFile(QWidget *parent, const FileRequest &request) override;

private:
    std::FILE *m_stream;
};

} // namespace vexal
