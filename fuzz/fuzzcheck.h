#pragma once

#include <QLocale>
#include <QString>

#include <cstdio>
#include <cstdlib>

namespace vexal::fuzz {

// A broken invariant is a finding like a crash: abort, so that libFuzzer
// keeps the input that broke it.
inline void require(bool holds, const char *invariant)
{
    if (!holds) {
        std::fprintf(stderr, "invariant broken: %s\n", invariant);
        std::abort();
    }
}

inline QString inputText(const unsigned char *data, std::size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
}

} // namespace vexal::fuzz

// Each target is one source file that includes this once. The decimal
// separator is the point whatever the machine's locale.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    QLocale::setDefault(QLocale::c());
    return 0;
}
