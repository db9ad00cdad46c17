#include "ComponentWriter.h"

#include "DisplayText.h"

#include <limits>
#include <stdexcept>

void TComponentWriter::WriteStr(std::string_view AText) {
    if (AText.size() > 255) {
        throw std::length_error("a short string holds at most 255 bytes");
    }
    FBytes += static_cast<char>(AText.size());
    FBytes += AText;
}

void TComponentWriter::WriteLittleEndian(uint32_t AValue, int ABytes) {
    for (int i = 0; i < ABytes; ++i) {
        FBytes += static_cast<char>((AValue >> (8 * i)) & 0xFF);
    }
}

void TComponentWriter::WriteInteger(int32_t AValue) {
    const auto bits = static_cast<uint32_t>(AValue);
    if (AValue >= std::numeric_limits<int8_t>::min() &&
        AValue <= std::numeric_limits<int8_t>::max()) {
        WriteType(vaInt8);
        WriteLittleEndian(bits, 1);
    } else if (AValue >= std::numeric_limits<int16_t>::min() &&
               AValue <= std::numeric_limits<int16_t>::max()) {
        WriteType(vaInt16);
        WriteLittleEndian(bits, 2);
    } else {
        WriteType(vaInt32);
        WriteLittleEndian(bits, 4);
    }
}

void TComponentWriter::WriteIdent(std::string_view AName) {
    WriteType(vaIdent);
    WriteStr(AName);
}

void TComponentWriter::WriteString(std::string_view AUtf8) {
    if (!IsAscii(AUtf8)) {
        WriteType(vaUTF8String);
        WriteLittleEndian(static_cast<uint32_t>(AUtf8.size()), 4);
    } else if (AUtf8.size() <= 255) {
        WriteType(vaString);
        WriteLittleEndian(static_cast<uint32_t>(AUtf8.size()), 1);
    } else {
        WriteType(vaLString);
        WriteLittleEndian(static_cast<uint32_t>(AUtf8.size()), 4);
    }
    FBytes += AUtf8;
}
