#pragma once

#include <QByteArray>

// Upper-casing of single-byte text by the rules of the Windows-1252 code page, whatever the
// locale: a-z, the accented letters of the code page (including š, œ, ž and ÿ); every other
// byte, NUL included, unchanged and the length kept.
namespace platform {

// This project's table of those rules, on every platform.
char CharUpperAnsi(char c);

// The whole text upper-cased. On Windows this is the system's own CharUpperBuffA, which follows
// the ANSI code page of the machine (Windows-1252 on Western systems); elsewhere the table above.
QByteArray CharUpperBuffA(QByteArray text);

} // namespace platform
