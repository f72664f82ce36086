#pragma once
// One value of a parameter as the host stores it: nothing, a data block,
// an integer number, a double number or a string. The numeric readers follow
// the platform's number objects: a number converts between integer and double,
// anything else reads as 0, and a value of another kind reads as empty.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

class FxValue {
public:
    enum class Kind { None, Data, Integer, Double, String };
    using Bytes = std::vector<unsigned char>;

    FxValue() = default;
    static FxValue data(Bytes bytes) {
        FxValue v(Kind::Data);
        v.bytes_ = std::move(bytes);
        return v;
    }
    static FxValue data(const void* bytes, std::size_t length) {
        const auto* p = static_cast<const unsigned char*>(bytes);
        return data(p ? Bytes(p, p + length) : Bytes());
    }
    static FxValue integer(std::int64_t value) {
        FxValue v(Kind::Integer);
        v.integer_ = value;
        return v;
    }
    static FxValue number(double value) {
        FxValue v(Kind::Double);
        v.double_ = value;
        return v;
    }
    static FxValue string(std::string value) {
        FxValue v(Kind::String);
        v.string_ = std::move(value);
        return v;
    }

    Kind kind() const { return kind_; }
    bool isNone() const { return kind_ == Kind::None; }

    // The data block; empty for any other kind.
    const Bytes& dataValue() const { return bytes_; }
    // Integer numbers as they are; double numbers truncated toward zero and
    // clamped to the integer range (NaN reads 0); anything else 0.
    std::int64_t integerValue() const {
        if (kind_ == Kind::Integer) return integer_;
        if (kind_ == Kind::Double) {
            if (!(double_ == double_)) return 0;
            if (double_ >= 9.2e18) return INT64_MAX;
            if (double_ <= -9.2e18) return INT64_MIN;
            return static_cast<std::int64_t>(double_);
        }
        return 0;
    }
    double doubleValue() const {
        if (kind_ == Kind::Double) return double_;
        if (kind_ == Kind::Integer) return static_cast<double>(integer_);
        return 0.0;
    }
    // The string; empty for any other kind.
    const std::string& stringValue() const { return string_; }

    // Same kind and same bits (so a NaN equals the same NaN, and 0.0 is not -0.0).
    bool operator==(const FxValue& other) const {
        if (kind_ != other.kind_) return false;
        switch (kind_) {
        case Kind::None: return true;
        case Kind::Data: return bytes_ == other.bytes_;
        case Kind::Integer: return integer_ == other.integer_;
        case Kind::Double: return sameBits(double_, other.double_);
        case Kind::String: return string_ == other.string_;
        }
        return false;
    }
    bool operator!=(const FxValue& other) const { return !(*this == other); }

private:
    explicit FxValue(Kind kind) : kind_(kind) {}
    static bool sameBits(double a, double b) {
        unsigned char x[sizeof a], y[sizeof b];
        std::memcpy(x, &a, sizeof a);
        std::memcpy(y, &b, sizeof b);
        return std::memcmp(x, y, sizeof a) == 0;
    }

    // Only the member of the value's kind is used; the others stay empty.
    Kind kind_ = Kind::None;
    Bytes bytes_;
    std::int64_t integer_ = 0;
    double double_ = 0.0;
    std::string string_;
};
