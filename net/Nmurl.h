#pragma once

#include <QObject>

#include <functional>
#include <string>

// URL (form) encoding: letters and digits stay, a space becomes '+', every
// other byte becomes %XX with upper-case hex digits.
class TNMURL : public QObject {
public:
    using TOnErrorEvent = std::function<void(QObject *sender, const std::string &operation,
                                             const std::string &errMsg)>;

    explicit TNMURL(QObject *owner = nullptr);

    std::string InputString;
    TOnErrorEvent OnError;

    // URLEncode(InputString).
    std::string Encode();
    // Any length. A failure fires OnError with "Error during encode" and is
    // raised again.
    std::string URLEncode(const std::string &text);
};

// A name as one segment of a URL path: letters, digits and "-._~" (RFC 3986's
// unreserved set) stay, every other byte becomes %XX, so a server decodes
// exactly the name and reads none of its bytes as a delimiter.
std::string PathSegmentEncode(const std::string &name);
