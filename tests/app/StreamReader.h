// An independent reader of the component stream "IRC.log" is written in, so the tests check
// the bytes field by field instead of comparing with the writer's own output.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

struct StreamValue {
    uint8_t Type = 0;
    int64_t Integer = 0;
    std::string Text;               // strings and identifiers
    std::vector<StreamValue> Items; // lists
};

struct StreamProperty {
    std::string Name;
    StreamValue Value;
};

struct StreamObject {
    std::string ClassName;
    std::string ObjectName;
    std::vector<StreamProperty> Properties;
};

class StreamReader {
public:
    // Reads one object with no children and requires that nothing follows it.
    static StreamObject Read(const std::string& ABytes) {
        StreamReader r(ABytes);
        if (r.Take(4) != "TPF0") {
            throw std::runtime_error("no TPF0 signature");
        }
        StreamObject object;
        object.ClassName = r.ShortString();
        object.ObjectName = r.ShortString();
        while (r.Peek() != 0) {
            StreamProperty p;
            p.Name = r.ShortString();
            p.Value = r.Value();
            object.Properties.push_back(p);
        }
        r.Byte(); // end of properties
        if (r.Byte() != 0) {
            throw std::runtime_error("unexpected contained object");
        }
        if (r.FPos != ABytes.size()) {
            throw std::runtime_error("bytes after the object");
        }
        return object;
    }

private:
    explicit StreamReader(const std::string& ABytes) : FBytes(ABytes) {}

    uint8_t Peek() const {
        if (FPos >= FBytes.size()) {
            throw std::runtime_error("stream ends early");
        }
        return static_cast<uint8_t>(FBytes[FPos]);
    }
    uint8_t Byte() {
        const uint8_t b = Peek();
        ++FPos;
        return b;
    }
    std::string Take(size_t ACount) {
        if (FBytes.size() - FPos < ACount) {
            throw std::runtime_error("stream ends early");
        }
        std::string s = FBytes.substr(FPos, ACount);
        FPos += ACount;
        return s;
    }
    uint64_t LittleEndian(int ABytes) {
        uint64_t v = 0;
        for (int i = 0; i < ABytes; ++i) {
            v |= static_cast<uint64_t>(Byte()) << (8 * i);
        }
        return v;
    }
    std::string ShortString() { return Take(Byte()); }

    StreamValue Value() {
        StreamValue v;
        v.Type = Byte();
        switch (v.Type) {
        case 1:
            while (Peek() != 0) {
                v.Items.push_back(Value());
            }
            Byte();
            break;
        case 2:
            v.Integer = static_cast<int8_t>(LittleEndian(1));
            break;
        case 3:
            v.Integer = static_cast<int16_t>(LittleEndian(2));
            break;
        case 4:
            v.Integer = static_cast<int32_t>(LittleEndian(4));
            break;
        case 6:
        case 7:
            v.Text = ShortString();
            break;
        case 8:
        case 9:
            break;
        case 12:
        case 20:
            v.Text = Take(LittleEndian(4));
            break;
        default:
            throw std::runtime_error("unknown value type " + std::to_string(v.Type));
        }
        return v;
    }

    const std::string& FBytes;
    size_t FPos = 0;
};
