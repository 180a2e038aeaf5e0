// Text: the framework's strings, each with its encoding, and Str and Len.
//
// Program literals are UTF-8. Serial input is read with no encoding: it is bytes,
// and Len counts one character per byte whatever the byte, so that every
// received character counts as one pulse.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace fw {

enum class Encoding { None, UTF8 };

class String {
public:
    String() = default;
    String(const char* utf8)
        : bytes_(utf8 ? utf8 : "")
        , encoding_(Encoding::UTF8)
    {
    }
    String(std::string utf8)
        : bytes_(std::move(utf8))
        , encoding_(Encoding::UTF8)
    {
    }
    String(std::string_view utf8)
        : bytes_(utf8)
        , encoding_(Encoding::UTF8)
    {
    }

    // Bytes that carry no encoding, as read from a serial line.
    static String FromBytes(std::string bytes);

    const std::string& Bytes() const { return bytes_; }
    Encoding GetEncoding() const { return encoding_; }
    bool IsEmpty() const { return bytes_.empty(); }

    // The text's bytes, for display: UTF-8 text as it is.
    const std::string& ToStdString() const { return bytes_; }

    // Concatenation keeps UTF-8 when either side has it.
    friend String operator+(const String& a, const String& b);
    friend bool operator==(const String& a, const String& b) { return a.bytes_ == b.bytes_; }

private:
    std::string bytes_;
    Encoding encoding_ = Encoding::UTF8;
};

// An integer as plain decimal text: no leading zeros, blanks or separators, a
// minus sign before a negative value. Only the empty format is supported.
String Str(std::int64_t value, const String& format = String());

// The length in characters: code points of UTF-8 text, bytes of text without an encoding.
std::int64_t Len(const String& text);

} // namespace fw
