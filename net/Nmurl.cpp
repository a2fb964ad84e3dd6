#include "net/Nmurl.h"

#include <exception>

TNMURL::TNMURL(QObject *owner) : QObject(owner)
{
}

std::string TNMURL::Encode()
{
    return URLEncode(InputString);
}

std::string TNMURL::URLEncode(const std::string &text)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    try {
        std::string out;
        out.reserve(text.size());
        for (const char ch : text) {
            const auto c = static_cast<unsigned char>(ch);
            if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
                out += ch;
            else if (c == ' ')
                out += '+';
            else
                out += { '%', Hex[c >> 4], Hex[c & 15] };
        }
        return out;
    } catch (const std::exception &error) {
        if (OnError)
            OnError(this, "Error during encode", error.what());
        throw;
    }
}
