#include "AnsiUpper.h"

#ifdef Q_OS_WIN
#  include <windows.h>
#endif

namespace platform {

char CharUpperAnsi(char c)
{
    const auto b = static_cast<unsigned char>(c);
    unsigned char upper = b;
    if (b >= 0x61 && b <= 0x7A)
        upper = static_cast<unsigned char>(b - 0x20);
    else if (b == 0x9A || b == 0x9C || b == 0x9E) // š œ ž
        upper = static_cast<unsigned char>(b - 0x10);
    else if (b >= 0xE0 && b <= 0xFE && b != 0xF7) // à..þ except ÷
        upper = static_cast<unsigned char>(b - 0x20);
    else if (b == 0xFF) // ÿ -> Ÿ
        upper = 0x9F;
    return static_cast<char>(upper);
}

QByteArray CharUpperBuffA(QByteArray text)
{
#ifdef Q_OS_WIN
    if (!text.isEmpty())
        ::CharUpperBuffA(text.data(), static_cast<DWORD>(text.size()));
#else
    for (char &c : text)
        c = CharUpperAnsi(c);
#endif
    return text;
}

} // namespace platform
