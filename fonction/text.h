// Text helpers shared by every layer: the stations' single-byte code page (Windows-1252), the
// password digest, and the date text used in every date column.
#pragma once

#include "platform/platform.h"

#include <QString>
#include <string>

// QString to Windows-1252 bytes; a character outside the code page becomes '?'.
std::string to_cp1252(const QString& text);
// True when every character of the text has a byte in Windows-1252 (no '?' would be put in).
bool encodable_in_cp1252(const QString& text);
QString from_cp1252(const std::string& bytes);
QString from_cp1252(const char* bytes);

// MD5 of the bytes, as 32 lower-case hexadecimal digits.
std::string password_digest(const std::string& bytes);

// "%u-%02u-%02u": the year in full, month and day with two digits.
std::string local_date_text(const LocalTime& time);
