#pragma once

#include <QByteArray>

// Upper-casing of single-byte text by the rules of the Windows-1252 code page, whatever the
// locale: a-z, the accented letters of the code page (including š, œ, ž and ÿ); every other
// byte, NUL included, unchanged and the length kept.
namespace platform {

char CharUpperAnsi(char c);
QByteArray CharUpperBuffA(QByteArray text);

} // namespace platform
