#include "framework/text.h"

#include "framework/runtime.h"

#include <charconv>

namespace fw {

String String::FromBytes(std::string bytes)
{
    String s(std::move(bytes));
    s.encoding_ = Encoding::None;
    return s;
}

String operator+(const String& a, const String& b)
{
    String s(a.bytes_ + b.bytes_);
    s.encoding_
        = (a.encoding_ == Encoding::UTF8 || b.encoding_ == Encoding::UTF8) ? Encoding::UTF8 : Encoding::None;
    return s;
}

String Str(std::int64_t value, const String& format)
{
    if (!format.IsEmpty())
        throw UnsupportedOperationException("Str: only the empty format is supported");
    char buffer[24];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    (void)ec; // 24 characters hold every 64-bit value
    return String(std::string(buffer, end));
}

std::int64_t Len(const String& text)
{
    const std::string& bytes = text.Bytes();
    if (text.GetEncoding() == Encoding::None)
        return static_cast<std::int64_t>(bytes.size());
    std::int64_t count = 0;
    for (unsigned char c : bytes)
        count += (c & 0xC0) != 0x80; // continuation bytes belong to the character before
    return count;
}

} // namespace fw
