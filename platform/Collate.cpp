#include "platform/Collate.h"

#include "platform/AnsiText.h"

#include <QCollator>
#include <QLocale>

namespace {

bool IsAscii(const std::string &s)
{
    for (unsigned char c : s)
        if (c >= 0x80)
            return false;
    return true;
}

// The C locale (LANG unset) has no collation of its own: Qt's collator then
// sorts its keys by code point while comparing without case, and a list
// sorted by one is searched wrongly by the other. Collate it as English.
QLocale CollationLocale()
{
    const QLocale current;
    return current.language() == QLocale::C ? QLocale(QLocale::English, QLocale::UnitedStates)
                                            : current;
}

// Made once per locale and case mode: building a collator costs far more
// than a comparison.
QCollator &Collator(Qt::CaseSensitivity cs)
{
    thread_local QCollator collators[2];
    thread_local QLocale locales[2] = {QLocale(QLocale::C), QLocale(QLocale::C)};
    thread_local bool made[2] = {false, false};
    const int i = cs == Qt::CaseSensitive ? 1 : 0;
    const QLocale current = CollationLocale();
    if (!made[i] || locales[i] != current) {
        collators[i] = QCollator(current);
        collators[i].setCaseSensitivity(cs);
        locales[i] = current;
        made[i] = true;
    }
    return collators[i];
}

int Sign(int v)
{
    return (v > 0) - (v < 0);
}

// Bytes are the same text whether shown as UTF-8 or Windows-1252 only when
// they are ASCII; anything else goes through the decoder.
QString Shown(const std::string &s)
{
    return IsAscii(s) ? QString::fromLatin1(s.data(), qsizetype(s.size())) : ToDisplay(s);
}

int Compare(Qt::CaseSensitivity cs, const std::string &a, const std::string &b)
{
    QCollator &collator = Collator(cs);
    // QCollator::compare puts an empty text before any other, while the
    // collation itself (and so every sort key) makes a text of ignorable
    // characters equal to it; lists sorted by key must agree with this.
    if (a.empty() != b.empty())
        return Sign(collator.sortKey(Shown(a)).compare(collator.sortKey(Shown(b))));
    return Sign(collator.compare(Shown(a), Shown(b)));
}

} // namespace

int AnsiCompareText(const std::string &a, const std::string &b)
{
    return Compare(Qt::CaseInsensitive, a, b);
}

QCollatorSortKey AnsiSortKeyText(const std::string &s)
{
    return Collator(Qt::CaseInsensitive).sortKey(Shown(s));
}

int AnsiCompareStr(const std::string &a, const std::string &b)
{
    return Compare(Qt::CaseSensitive, a, b);
}

std::string AnsiUpperCase(const std::string &s)
{
    return ToSameEncoding(QLocale().toUpper(Shown(s)), s);
}

std::string AnsiLowerCase(const std::string &s)
{
    return ToSameEncoding(QLocale().toLower(Shown(s)), s);
}
