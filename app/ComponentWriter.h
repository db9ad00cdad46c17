// Writes the toolkit's component stream, the binary form "IRC.log" is stored in:
//
//   "TPF0" class-name object-name { property-name value } 0 { contained objects } 0
//
// Names are short strings (one length byte, then the bytes). A value is one type byte and
// its bytes; integers are little-endian and take the smallest signed width that holds them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class TComponentWriter {
public:
    enum TValueType : uint8_t {
        vaNull = 0,
        vaList = 1,
        vaInt8 = 2,
        vaInt16 = 3,
        vaInt32 = 4,
        vaString = 6,
        vaIdent = 7,
        vaFalse = 8,
        vaTrue = 9,
        vaLString = 12,
        vaUTF8String = 20,
    };

    void WriteSignature() { FBytes += "TPF0"; }
    // A short string; names longer than 255 bytes do not occur and are refused.
    void WriteStr(std::string_view AText);
    void WriteInteger(int32_t AValue);
    void WriteBoolean(bool AValue) { WriteType(AValue ? vaTrue : vaFalse); }
    void WriteIdent(std::string_view AName);
    // Type 6 or 12 for 7-bit ASCII by length; type 20 for anything else, which must already
    // be UTF-8.
    void WriteString(std::string_view AUtf8);
    void WriteListBegin() { WriteType(vaList); }
    void WriteListEnd() { WriteType(vaNull); }

    const std::string& Bytes() const { return FBytes; }

private:
    void WriteType(TValueType AType) { FBytes += static_cast<char>(AType); }
    void WriteLittleEndian(uint32_t AValue, int ABytes);

    std::string FBytes;
};
