#include "CodePage.h"

#include <QString>
#include <QStringDecoder>

namespace {

// Windows-1252 bytes 0x80 to 0x9F; 0 marks the five unassigned bytes. Every other byte is the
// Latin-1 character of the same number.
const char16_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

char16_t fromWindows1252(unsigned char b) {
    if (b >= 0x80 && b < 0xA0) {
        const char16_t c = kHighControls[b - 0x80];
        return c ? c : char16_t(b);
    }
    return char16_t(b);
}

char toWindows1252Char(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return char(c);
    for (int i = 0; i < 32; ++i) {
        if (kHighControls[i] == c) return char(0x80 + i);
    }
    return '?';
}

}  // namespace

namespace CodePage {

std::string toWindows1252(const std::string& utf8) {
    if (isAscii(utf8.data(), utf8.size())) return utf8;
    const QString text = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
    std::string out;
    out.reserve(size_t(text.size()));
    for (QChar c : text) out.push_back(toWindows1252Char(c.unicode()));
    return out;
}

std::string toUtf8(const char* bytes, size_t length, int codePage) {
    if (isAscii(bytes, length)) return std::string(bytes, length);
    if (codePage != Windows1252 && codePage > 0) {
        for (const char* prefix : {"windows-", "CP", "IBM"}) {
            QStringDecoder decoder((QByteArray(prefix) + QByteArray::number(codePage)).constData());
            if (decoder.isValid()) {
                const QString text = decoder.decode(QByteArrayView(bytes, qsizetype(length)));
                if (!decoder.hasError()) return text.toStdString();
            }
        }
    }
    QString text;
    text.reserve(qsizetype(length));
    for (size_t i = 0; i < length; ++i)
        text.append(QChar(fromWindows1252(static_cast<unsigned char>(bytes[i]))));
    return text.toStdString();
}

}  // namespace CodePage
