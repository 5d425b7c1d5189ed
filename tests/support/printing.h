#pragma once

// Lets failures show Qt strings as text, not as bytes. Every test file includes it before
// GoogleTest, so that the whole program has this one printer.
#include <QString>

#include <ostream>

inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}
