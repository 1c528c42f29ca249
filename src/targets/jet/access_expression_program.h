// The parsed form of an Access expression, shared by its parser and its evaluator: a flat list
// of nodes whose children are indices into the same list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "targets/jet/access_expression.h"

namespace qm::jet {

enum class TExprOp : std::uint8_t {
    // binary
    Power,
    Multiply,
    Divide,
    IntDivide,
    Mod,
    Add,
    Subtract,
    Concat,
    Equal,
    NotEqual,
    Less,
    LessEqual,
    Greater,
    GreaterEqual,
    And,
    Or,
    Xor,
    Eqv,
    Imp,
    // unary
    Negate,
    Not,
};

enum class TExprFunction : std::uint8_t {
    Date,
    Now,
    Time,
    Year,
    Month,
    Day,
    Hour,
    Minute,
    Second,
    Weekday,
    DateAdd,
    DateSerial,
    TimeSerial,
    DateValue,
    Len,
    Left,
    Right,
    Mid,
    Trim,
    LTrim,
    RTrim,
    UCase,
    LCase,
    InStr,
    Nz,
    IIf,
    Abs,
    Int,
    Fix,
    Sgn,
    Round,
    CStr,
    CLng,
    CInt,
    CDbl,
    CCur,
    CDate,
    CBool,
    IsNull,
};

struct TExprNode {
    enum class Kind : std::uint8_t {
        Literal,  // value
        Field,    // name
        Current,  // the value under test of a field rule
        Unary,    // op, args[0]
        Binary,   // op, args[0], args[1]
        Between,  // args: value, low, high; negated for Not Between
        In,       // args: value, items…; negated for Not In
        Like,     // args: value, pattern; negated for Not Like
        IsNull,   // args[0]; negated for Is Not Null
        Call,     // function, args
    };
    Kind kind = Kind::Literal;
    TExprOp op = TExprOp::Add;
    TExprFunction function = TExprFunction::Len;
    bool negated = false;
    TValue value;
    std::u16string name;
    std::vector<std::size_t> args;
};

struct TAccessExpression::TProgram {
    std::u16string text;
    std::vector<TExprNode> nodes;
    std::size_t root = 0;
    bool usesClock = false;
    bool usesFields = false;
    std::vector<std::u16string> fieldNames;
};

// The Japanese messages of refusals (at parse time) and failures (at evaluation), both quoting
// the expression.
[[noreturn]] void ThrowUnsupportedExpression(std::u16string_view text, std::u16string_view why);
[[noreturn]] void ThrowExpressionFailed(std::u16string_view text, std::u16string_view why);

}  // namespace qm::jet
