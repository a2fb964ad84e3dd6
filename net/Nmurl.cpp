#include "net/Nmurl.h"

#include <cstring>
#include <exception>

namespace {

// `keep` bytes and letters and digits as they are, with a space as '+' when
// `plusForSpace`, every other byte as %XX with upper-case hex digits.
std::string Encoded(const std::string &text, const char *keep, bool plusForSpace)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')
            || (c != 0 && std::strchr(keep, ch)))
            out += ch;
        else if (c == ' ' && plusForSpace)
            out += '+';
        else
            out += { '%', Hex[c >> 4], Hex[c & 15] };
    }
    return out;
}

} // namespace

TNMURL::TNMURL(QObject *owner) : QObject(owner)
{
}

std::string TNMURL::Encode()
{
    return URLEncode(InputString);
}

std::string TNMURL::URLEncode(const std::string &text)
{
    try {
        return Encoded(text, "", true);
    } catch (const std::exception &error) {
        if (OnError)
            OnError(this, "Error during encode", error.what());
        throw;
    }
}

std::string PathSegmentEncode(const std::string &name)
{
    return Encoded(name, "-._~", false);
}
