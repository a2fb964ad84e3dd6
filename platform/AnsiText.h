#pragma once

#include <QString>
#include <string>
#include <string_view>

// Text is kept as the bytes read; it becomes a QString only to be shown or
// collated. Valid UTF-8 is shown as UTF-8, anything else as Windows-1252.
QString ToDisplay(const std::string &bytes);

// The inverse for text the user typed or chose: UTF-8 bytes.
std::string FromDisplay(const QString &text);

// Encodes text back the way ToDisplay() decoded `original`: as UTF-8 when the
// original was valid UTF-8, else as Windows-1252 ("?" for what it can't hold).
std::string ToSameEncoding(const QString &text, const std::string &original);

// Whether ToDisplay() shows these bytes as UTF-8.
bool IsUtf8(std::string_view bytes);

// Text in Windows-1252, the encoding of bytes that aren't UTF-8; false when
// a character has no place in it.
bool ToWindows1252(const QString &text, std::string &bytes);

// The text without the UTF-8 byte-order mark that some editors put at the
// start of a file, which is no part of its first line.
std::string_view WithoutByteOrderMark(std::string_view text);
