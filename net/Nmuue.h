#pragma once

#include "net/Events.h"

#include <QObject>

#include <string>

class QIODevice;

enum UUMethods { uuMime, uuCode };

// Encodes an input stream into 64-character-alphabet text lines of at most 45
// input bytes each, and decodes such text back. uuMime is base64; uuCode is
// the classic uuencode line format with a length character in front.
class TNMUUProcessor : public QObject {
public:
    explicit TNMUUProcessor(QObject *owner = nullptr);

    UUMethods Method = uuMime;
    QIODevice *InputStream = nullptr;
    QIODevice *OutputStream = nullptr;

    TNotifyEvent OnBeginEncode;
    TNotifyEvent OnEndEncode;
    TNotifyEvent OnBeginDecode;
    TNotifyEvent OnEndDecode;

    // The whole input, from its start, appended to the output as lines ending
    // in CR LF; the output is then rewound.
    void Encode();
    // The whole input read as lines of encoded text; bytes outside the
    // alphabet (line ends, blanks) are skipped. The output is then rewound.
    void Decode();

private:
    void CheckStreams() const;
    std::string EncodeLine(const unsigned char *bytes, int count) const;
};

// The base64 text of `bytes` on one line, without any line break.
std::string Base64Encode(const std::string &bytes);
