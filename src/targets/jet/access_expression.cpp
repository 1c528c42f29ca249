// Evaluating a parsed Access expression: operators with VBA's Null propagation and type rules,
// text comparison and Like, and the supported functions.
#include "targets/jet/access_expression.h"

#include <cmath>
#include <limits>
#include <optional>

#include "platform/case_fold.h"
#include "platform/error.h"
#include "targets/jet/access_expression_date.h"
#include "targets/jet/access_expression_program.h"
#include "targets/jet/access_expression_value.h"

namespace qm::jet {
namespace {

using Kind = TExprNode::Kind;
using TTri = std::optional<bool>;  // three-valued logic: nullopt is Null

[[noreturn]] void Fail(std::u16string why) {
    throw TConversionError{std::move(why)};
}

bool IsText(const TValue& v) {
    return std::holds_alternative<std::u16string>(v);
}

// Characters whose comparison does not depend on the sort order beyond letter case: ASCII
// letters, digits, space and the punctuation that no sort order ignores, and the unified CJK
// ideographs (which have no case, width or kana variants).
bool IsPlain(char16_t c) {
    if (c >= 0x4E00 && c <= 0x9FFF) return true;
    return c >= 0x20 && c <= 0x7E && c != u'-' && c != u'\'';
}
bool AllPlain(std::u16string_view text) {
    for (const char16_t c : text)
        if (!IsPlain(c)) return false;
    return true;
}
// Letters, digits and spaces: the characters whose order is the same in every sort order
// (space before digits before letters, letters ignoring case).
int OrderClass(char16_t c) {
    if (c == u' ') return 0;
    if (c >= u'0' && c <= u'9') return 1;
    if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z')) return 2;
    return -1;
}

int CompareTexts(const std::u16string& a, const std::u16string& b, bool ordering) {
    const std::u16string fa = FoldCase(a), fb = FoldCase(b);
    if (!ordering) {
        if (fa == fb) return 0;
        if (AllPlain(a) && AllPlain(b)) return 1;
        Fail(u"「" + a + u"」と「" + b +
             u"」が等しいかどうかはデータベースの並べ替え順序によります");
    }
    for (const char16_t c : fa + fb)
        if (OrderClass(c) < 0)
            Fail(u"文字「" + std::u16string(1, c) +
                 u"」を含む文字列の大小はデータベースの並べ替え順序によります");
    return fa < fb ? -1 : fa > fb ? 1 : 0;
}

// nullopt when either side is Null; otherwise <0, 0, >0.
std::optional<int> Compare(const TValue& a, const TValue& b, bool ordering) {
    if (IsNull(a) || IsNull(b)) return std::nullopt;
    if (IsText(a) && IsText(b))
        return CompareTexts(std::get<std::u16string>(a), std::get<std::u16string>(b), ordering);
    if (std::holds_alternative<TBytes>(a) || std::holds_alternative<TBytes>(b))
        Fail(u"バイナリの値は比較できません");
    // Text against a date reads the text as a date; against a number, as a number.
    const bool dates = std::holds_alternative<TDateTime>(a) || std::holds_alternative<TDateTime>(b);
    auto number = [&](const TValue& v) {
        if (dates && IsText(v)) return TNumber{TNumber::Kind::Date, 0, ToDate(v).Days};
        return ToNumber(v);
    };
    const TNumber x = number(a), y = number(b);
    if (x.kind != TNumber::Kind::Double && x.kind != TNumber::Kind::Date &&
        y.kind != TNumber::Kind::Double && y.kind != TNumber::Kind::Date) {
        // Long and Currency exactly, on the scale of 1/10 000.
        const long double sx = x.kind == TNumber::Kind::Long ? x.integer * 10000.0L : x.integer;
        const long double sy = y.kind == TNumber::Kind::Long ? y.integer * 10000.0L : y.integer;
        return sx < sy ? -1 : sx > sy ? 1 : 0;
    }
    const long double dx = x.AsDouble(), dy = y.AsDouble();
    return dx < dy ? -1 : dx > dy ? 1 : 0;
}

TTri ToTri(const TValue& v) {
    if (IsNull(v)) return std::nullopt;
    if (const auto* b = std::get_if<bool>(&v)) return *b;
    // VBA applies And/Or bitwise to other numbers; only True (-1) and False (0) read the same
    // either way, so anything else is not evaluated.
    const TNumber n = ToNumber(v);
    const double d = n.AsDouble();
    if (d == 0) return false;
    if (d == -1) return true;
    Fail(u"論理演算子に True/False 以外の値が渡されました");
}

TValue FromTri(TTri t) {
    return t ? TValue{*t} : TValue{};
}

bool IsWholeNumber(const TNumber& n) {
    return n.kind == TNumber::Kind::Long;
}

TValue Arithmetic(TExprOp op, const TValue& a, const TValue& b) {
    if (IsNull(a) || IsNull(b)) return TValue{};
    if (op == TExprOp::Add && IsText(a) && IsText(b))
        return std::get<std::u16string>(a) + std::get<std::u16string>(b);
    const TNumber x = ToNumber(a), y = ToNumber(b);
    using K = TNumber::Kind;
    TNumber r;
    switch (op) {
        case TExprOp::Add:
        case TExprOp::Subtract: {
            const bool add = op == TExprOp::Add;
            if (x.kind == K::Date || y.kind == K::Date) {
                // Date ± number is a date; date − date is a number of days.
                r.kind = (!add && x.kind == K::Date && y.kind == K::Date) ? K::Double : K::Date;
                r.real = add ? x.AsDouble() + y.AsDouble() : x.AsDouble() - y.AsDouble();
                return FromNumber(r);
            }
            if (IsWholeNumber(x) && IsWholeNumber(y)) {
                std::int64_t out;
                if (!(add ? __builtin_add_overflow(x.integer, y.integer, &out)
                          : __builtin_sub_overflow(x.integer, y.integer, &out))) {
                    r.integer = out;
                    return FromNumber(r);
                }
            } else if (x.kind != K::Double && y.kind != K::Double) {
                const std::int64_t sx = x.kind == K::Long ? x.integer * 10000 : x.integer;
                const std::int64_t sy = y.kind == K::Long ? y.integer * 10000 : y.integer;
                std::int64_t out;
                if (!(add ? __builtin_add_overflow(sx, sy, &out)
                          : __builtin_sub_overflow(sx, sy, &out))) {
                    r.kind = K::Currency;
                    r.integer = out;
                    return FromNumber(r);
                }
            }
            r.kind = K::Double;
            r.real = add ? x.AsDouble() + y.AsDouble() : x.AsDouble() - y.AsDouble();
            return FromNumber(r);
        }
        case TExprOp::Multiply:
            if (IsWholeNumber(x) && IsWholeNumber(y)) {
                std::int64_t out;
                if (!__builtin_mul_overflow(x.integer, y.integer, &out)) {
                    r.integer = out;
                    return FromNumber(r);
                }
            } else if ((x.kind == K::Currency || y.kind == K::Currency) && x.kind != K::Double &&
                       y.kind != K::Double && x.kind != K::Date && y.kind != K::Date) {
                const long double product = static_cast<long double>(x.AsDouble()) * y.AsDouble();
                r.kind = K::Currency;
                r.integer = static_cast<std::int64_t>(std::nearbyint(product * 10000.0L));
                return FromNumber(r);
            }
            r.kind = K::Double;
            r.real = x.AsDouble() * y.AsDouble();
            return FromNumber(r);
        case TExprOp::Divide:
            if (y.AsDouble() == 0) Fail(u"0 で割りました");
            r.kind = K::Double;
            r.real = x.AsDouble() / y.AsDouble();
            return FromNumber(r);
        case TExprOp::IntDivide:
        case TExprOp::Mod: {
            const std::int64_t limit = std::numeric_limits<std::int32_t>::max();
            const std::int64_t i = ToWhole(a, -limit - 1, limit), j = ToWhole(b, -limit - 1, limit);
            if (j == 0) Fail(u"0 で割りました");
            r.integer = op == TExprOp::IntDivide ? i / j : i % j;
            return FromNumber(r);
        }
        case TExprOp::Power: {
            const double base = x.AsDouble(), exponent = y.AsDouble();
            if (base < 0 && exponent != std::floor(exponent)) Fail(u"負の数を小数で累乗しました");
            if (base == 0 && exponent < 0) Fail(u"0 で割りました");
            r.kind = K::Double;
            r.real = std::pow(base, exponent);
            return FromNumber(r);
        }
        default:
            break;
    }
    return TValue{};
}

bool LikeClassMatches(char16_t c, std::u16string_view set) {
    for (std::size_t i = 0; i < set.size(); ++i) {
        if (i + 2 < set.size() && set[i + 1] == u'-') {
            if (c >= set[i] && c <= set[i + 2]) return true;
            i += 2;
        } else if (set[i] == c) {
            return true;
        }
    }
    return false;
}

// One element of a pattern; the pattern is folded to lower case like the text.
struct TLikeItem {
    enum class Kind : std::uint8_t { Any, One, Digit, Literal, Set } kind;
    char16_t literal = 0;
    std::u16string set = {};
    bool negate = false;
};

TLikeItem Item(TLikeItem::Kind kind, char16_t literal = 0) {
    TLikeItem item{kind};
    item.literal = literal;
    return item;
}

std::vector<TLikeItem> CompileLike(std::u16string_view pattern) {
    std::vector<TLikeItem> items;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char16_t c = pattern[i];
        if (c == u'*') {
            items.push_back(Item(TLikeItem::Kind::Any));
        } else if (c == u'?') {
            items.push_back(Item(TLikeItem::Kind::One));
        } else if (c == u'#') {
            items.push_back(Item(TLikeItem::Kind::Digit));
        } else if (c == u'[') {
            const std::size_t end = pattern.find(u']', i + 1);
            if (end == std::u16string_view::npos)
                throw Error(u"Like のパターン「" + std::u16string(pattern) +
                            u"」の [ が閉じていません。");
            TLikeItem item = Item(TLikeItem::Kind::Set);
            std::u16string_view body = pattern.substr(i + 1, end - i - 1);
            if (!body.empty() && body[0] == u'!' && body.size() > 1) {
                item.negate = true;
                body.remove_prefix(1);
            }
            item.set = FoldCase(body);
            for (std::size_t k = 0; k + 2 < item.set.size(); ++k)
                if (item.set[k + 1] == u'-' && item.set[k] > item.set[k + 2])
                    throw Error(u"Like のパターン「" + std::u16string(pattern) +
                                u"」の範囲が逆順です。");
            items.push_back(std::move(item));
            i = end;
        } else {
            items.push_back(Item(TLikeItem::Kind::Literal, FoldCase(c)));
        }
    }
    return items;
}

bool MatchFrom(const std::vector<TLikeItem>& items, std::size_t item, std::u16string_view text,
               std::size_t pos, std::vector<std::vector<signed char>>& memo) {
    signed char& seen = memo[item][pos];
    if (seen >= 0) return seen != 0;
    bool result;
    if (item == items.size()) {
        result = pos == text.size();
    } else {
        const TLikeItem& it = items[item];
        if (it.kind == TLikeItem::Kind::Any) {
            result = MatchFrom(items, item + 1, text, pos, memo) ||
                     (pos < text.size() && MatchFrom(items, item, text, pos + 1, memo));
        } else if (pos >= text.size()) {
            result = false;
        } else {
            const char16_t c = text[pos];
            bool one = false;
            switch (it.kind) {
                case TLikeItem::Kind::One:
                    one = true;
                    break;
                case TLikeItem::Kind::Digit:
                    one = c >= u'0' && c <= u'9';
                    break;
                case TLikeItem::Kind::Literal:
                    one = c == it.literal;
                    break;
                case TLikeItem::Kind::Set:
                    one = it.set.empty() ? false : LikeClassMatches(c, it.set) != it.negate;
                    break;
                default:
                    break;
            }
            result = one && MatchFrom(items, item + 1, text, pos + 1, memo);
        }
    }
    seen = result ? 1 : 0;
    return result;
}

class TEvaluator {
  public:
    TEvaluator(const TAccessExpression::TProgram& program, const TExpressionContext& context)
        : p_(program), context_(context) {}

    TValue Run(std::size_t index) {
        try {
            return Eval(index);
        } catch (const TConversionError& e) {
            ThrowExpressionFailed(p_.text, e.why);
        } catch (const Error& e) {
            ThrowExpressionFailed(p_.text, e.Message());
        }
    }

  private:
    TValue Eval(std::size_t index) {
        const TExprNode& node = p_.nodes[index];
        switch (node.kind) {
            case Kind::Literal:
                return node.value;
            case Kind::Current:
                return context_.currentValue;
            case Kind::Field: {
                const TValue* value = context_.field ? context_.field(node.name) : nullptr;
                if (value == nullptr) Fail(u"フィールド [" + node.name + u"] がありません");
                return *value;
            }
            case Kind::Unary:
                return Unary(node);
            case Kind::Binary:
                return Binary(node);
            case Kind::Between: {
                const TValue v = Eval(node.args[0]), low = Eval(node.args[1]),
                             high = Eval(node.args[2]);
                const auto order = Compare(low, high, true);
                if (order && *order > 0) Fail(u"Between の下限が上限より大きくなっています");
                const auto lo = Compare(v, low, true), hi = Compare(v, high, true);
                TTri result =
                    And(lo ? TTri(*lo >= 0) : std::nullopt, hi ? TTri(*hi <= 0) : std::nullopt);
                return FromTri(node.negated ? Not(result) : result);
            }
            case Kind::In: {
                const TValue v = Eval(node.args[0]);
                TTri result = false;
                for (std::size_t i = 1; i < node.args.size(); ++i) {
                    const auto c = Compare(v, Eval(node.args[i]), false);
                    result = Or(result, c ? TTri(*c == 0) : std::nullopt);
                }
                return FromTri(node.negated ? Not(result) : result);
            }
            case Kind::Like: {
                const TValue v = Eval(node.args[0]), pattern = Eval(node.args[1]);
                if (IsNull(v) || IsNull(pattern)) return TValue{};
                const bool match = MatchesLike(ToText(v), ToText(pattern));
                return match != node.negated;
            }
            case Kind::IsNull:
                return IsNull(Eval(node.args[0])) != node.negated;
            case Kind::Call:
                return Call(node);
        }
        return TValue{};
    }

    static TTri Not(TTri a) { return a ? TTri(!*a) : std::nullopt; }
    static TTri And(TTri a, TTri b) {
        if ((a && !*a) || (b && !*b)) return false;
        if (a && b) return true;
        return std::nullopt;
    }
    static TTri Or(TTri a, TTri b) {
        if ((a && *a) || (b && *b)) return true;
        if (a && b) return false;
        return std::nullopt;
    }

    TValue Unary(const TExprNode& node) {
        const TValue v = Eval(node.args[0]);
        if (node.op == TExprOp::Not) return FromTri(Not(ToTri(v)));
        if (IsNull(v)) return v;
        TNumber n = ToNumber(v);
        if (n.kind == TNumber::Kind::Long || n.kind == TNumber::Kind::Currency) {
            if (n.integer == std::numeric_limits<std::int64_t>::min())
                Fail(u"オーバーフローしました");
            n.integer = -n.integer;
        } else {
            n.real = -n.real;
        }
        return FromNumber(n);
    }

    TValue Binary(const TExprNode& node) {
        switch (node.op) {
            case TExprOp::And:
            case TExprOp::Or: {
                const TTri a = ToTri(Eval(node.args[0]));
                // The right side is still evaluated when the left decides, as Access does;
                // an error there is an error of the rule.
                const TTri b = ToTri(Eval(node.args[1]));
                return FromTri(node.op == TExprOp::And ? And(a, b) : Or(a, b));
            }
            case TExprOp::Xor:
            case TExprOp::Eqv: {
                const TTri a = ToTri(Eval(node.args[0])), b = ToTri(Eval(node.args[1]));
                if (!a || !b) return TValue{};
                return node.op == TExprOp::Xor ? *a != *b : *a == *b;
            }
            case TExprOp::Imp: {
                const TTri a = ToTri(Eval(node.args[0])), b = ToTri(Eval(node.args[1]));
                return FromTri(Or(Not(a), b));
            }
            case TExprOp::Concat: {
                const TValue a = Eval(node.args[0]), b = Eval(node.args[1]);
                if (IsNull(a) && IsNull(b)) return TValue{};
                return (IsNull(a) ? u"" : ToText(a)) + (IsNull(b) ? u"" : ToText(b));
            }
            case TExprOp::Equal:
            case TExprOp::NotEqual:
            case TExprOp::Less:
            case TExprOp::LessEqual:
            case TExprOp::Greater:
            case TExprOp::GreaterEqual: {
                const bool ordering = node.op != TExprOp::Equal && node.op != TExprOp::NotEqual;
                const auto c = Compare(Eval(node.args[0]), Eval(node.args[1]), ordering);
                if (!c) return TValue{};
                switch (node.op) {
                    case TExprOp::Equal:
                        return *c == 0;
                    case TExprOp::NotEqual:
                        return *c != 0;
                    case TExprOp::Less:
                        return *c < 0;
                    case TExprOp::LessEqual:
                        return *c <= 0;
                    case TExprOp::Greater:
                        return *c > 0;
                    default:
                        return *c >= 0;
                }
            }
            default:
                return Arithmetic(node.op, Eval(node.args[0]), Eval(node.args[1]));
        }
    }

    std::vector<TValue> Args(const TExprNode& node) {
        std::vector<TValue> values;
        for (const std::size_t a : node.args)
            values.push_back(Eval(a));
        return values;
    }

    static TValue DateParts(TExprFunction f, const TValue& v) {
        if (IsNull(v)) return v;
        TDateParts parts;
        if (!DecodeDateTime(ToDate(v), parts)) Fail(u"日付が範囲外です");
        switch (f) {
            case TExprFunction::Year:
                return std::int64_t{parts.Year};
            case TExprFunction::Month:
                return std::int64_t{parts.Month};
            case TExprFunction::Day:
                return std::int64_t{parts.Day};
            case TExprFunction::Hour:
                return std::int64_t{parts.Hour};
            case TExprFunction::Minute:
                return std::int64_t{parts.Minute};
            default:
                return std::int64_t{parts.Second};
        }
    }

    static double DaysOf(int year, int month, double day) {
        // Months beyond 1..12 roll into neighbouring years, as DateSerial does.
        const int monthIndex = year * 12 + month - 1;
        const int y = monthIndex >= 0 ? monthIndex / 12 : (monthIndex - 11) / 12;
        const int m = monthIndex - y * 12 + 1;
        if (y < 100 || y > 9999) Fail(u"日付が範囲外です");
        return EncodeDate(y, m, 1) + day - 1;
    }

    TValue DateAdd(const std::vector<TValue>& a) {
        if (IsNull(a[1]) || IsNull(a[2])) return TValue{};
        const std::u16string interval = FoldCase(ToText(a[0]));
        const std::int64_t n = ToWhole(a[1], -10000000, 10000000);
        const double value = ToDate(a[2]).Days;
        double seconds = 0;
        if (interval == u"yyyy" || interval == u"q" || interval == u"m") {
            const std::int64_t months = n * (interval == u"yyyy" ? 12 : interval == u"q" ? 3 : 1);
            TDateParts parts;
            if (!DecodeDateTime(TDateTime{value}, parts) || months > 120000 || months < -120000)
                Fail(u"日付が範囲外です");
            double whole, time;
            SplitDateAndTime(value, whole, time);
            const int total = parts.Year * 12 + parts.Month - 1 + static_cast<int>(months);
            const int year = total / 12, month = total % 12 + 1;
            if (total < 0 || year < 100 || year > 9999) Fail(u"日付が範囲外です");
            // The day is kept, or becomes the last day of a shorter month.
            int day = parts.Day;
            while (day > 28 && DecodeDateTime(TDateTime{EncodeDate(year, month, day)}, parts) &&
                   parts.Month != month)
                --day;
            return FromNumber(
                {TNumber::Kind::Date, 0, CombineDateAndTime(EncodeDate(year, month, day), time)});
        }
        if (interval == u"d" || interval == u"y" || interval == u"w")
            seconds = 86400.0 * static_cast<double>(n);
        else if (interval == u"ww")
            seconds = 7 * 86400.0 * static_cast<double>(n);
        else if (interval == u"h")
            seconds = 3600.0 * static_cast<double>(n);
        else if (interval == u"n")
            seconds = 60.0 * static_cast<double>(n);
        else if (interval == u"s")
            seconds = static_cast<double>(n);
        else
            Fail(u"DateAdd の単位「" + ToText(a[0]) + u"」を解釈できません");
        // Work on the time line (a continuous count of days) and back to Access's encoding.
        double whole, time;
        SplitDateAndTime(value, whole, time);
        const double linear = whole + time + seconds / 86400.0;
        const double day = std::floor(linear + 1e-9 / 86400.0);
        double fraction = linear - day;
        if (fraction < 0) fraction = 0;
        fraction = std::round(fraction * 86400.0) / 86400.0;
        return FromNumber({TNumber::Kind::Date, 0, CombineDateAndTime(day, fraction)});
    }

    TValue Call(const TExprNode& node) {
        const TExprFunction f = node.function;
        if (f == TExprFunction::IIf) {
            const TTri condition = ToTri(Eval(node.args[0]));
            return Eval(node.args[condition && *condition ? 1 : 2]);
        }
        if (f == TExprFunction::Nz) {
            const TValue v = Eval(node.args[0]);
            return IsNull(v) ? Eval(node.args[1]) : v;
        }
        const std::vector<TValue> a = Args(node);
        const double now = context_.now.Days;
        switch (f) {
            case TExprFunction::Now:
                return TDateTime{now};
            case TExprFunction::Date:
                return TDateTime{std::floor(now)};
            case TExprFunction::Time:
                return TDateTime{now - std::floor(now)};
            case TExprFunction::IsNull:
                return IsNull(a[0]);
            default:
                break;
        }
        // Every other function gives Null for a Null first argument (Len, Left, Year …).
        if (IsNull(a[0])) {
            switch (f) {
                case TExprFunction::CStr:
                case TExprFunction::CLng:
                case TExprFunction::CInt:
                case TExprFunction::CDbl:
                case TExprFunction::CCur:
                case TExprFunction::CDate:
                case TExprFunction::CBool:
                    Fail(u"Null は変換できません");
                case TExprFunction::DateAdd:
                case TExprFunction::DateSerial:
                case TExprFunction::TimeSerial:
                    break;
                default:
                    return TValue{};
            }
        }
        for (std::size_t i = 1; i < a.size(); ++i)
            if (IsNull(a[i]) && f != TExprFunction::DateAdd) return TValue{};
        switch (f) {
            case TExprFunction::Year:
            case TExprFunction::Month:
            case TExprFunction::Day:
            case TExprFunction::Hour:
            case TExprFunction::Minute:
            case TExprFunction::Second:
                return DateParts(f, a[0]);
            case TExprFunction::Weekday: {
                const std::int64_t first = a.size() > 1 ? ToWhole(a[1], 0, 7) : 1;
                if (first == 0) Fail(u"Weekday の週の始まりにシステムの設定は使えません");
                double whole, time;
                SplitDateAndTime(ToDate(a[0]).Days, whole, time);
                // 1899-12-30 was a Saturday (7 when the week starts on Sunday).
                const std::int64_t sundayBased =
                    ((static_cast<std::int64_t>(whole) + 6) % 7 + 7) % 7 + 1;
                return (sundayBased - first + 7) % 7 + 1;
            }
            case TExprFunction::DateAdd:
                return DateAdd(a);
            case TExprFunction::DateSerial: {
                if (IsNull(a[0]) || IsNull(a[1]) || IsNull(a[2])) return TValue{};
                const std::int64_t year = ToWhole(a[0], -32768, 32767);
                if (year < 100) Fail(u"2 桁の年の読み方は Windows の設定によって変わります");
                const std::int64_t month = ToWhole(a[1], -32768, 32767);
                const std::int64_t day = ToWhole(a[2], -32768, 32767);
                return FromNumber({TNumber::Kind::Date, 0,
                                   DaysOf(static_cast<int>(year), static_cast<int>(month),
                                          static_cast<double>(day))});
            }
            case TExprFunction::TimeSerial: {
                if (IsNull(a[0]) || IsNull(a[1]) || IsNull(a[2])) return TValue{};
                const double seconds = static_cast<double>(ToWhole(a[0], -32768, 32767)) * 3600 +
                                       static_cast<double>(ToWhole(a[1], -32768, 32767)) * 60 +
                                       static_cast<double>(ToWhole(a[2], -32768, 32767));
                if (seconds < 0) Fail(u"負の時刻には対応していません");
                return FromNumber({TNumber::Kind::Date, 0, seconds / 86400.0});
            }
            case TExprFunction::DateValue: {
                double whole, time;
                SplitDateAndTime(ToDate(a[0]).Days, whole, time);
                return TDateTime{whole};
            }
            case TExprFunction::Len:
                return static_cast<std::int64_t>(ToText(a[0]).size());
            case TExprFunction::Left:
            case TExprFunction::Right: {
                const std::u16string s = ToText(a[0]);
                const auto n = static_cast<std::size_t>(ToWhole(a[1], 0, 2147483647));
                if (n >= s.size()) return s;
                return f == TExprFunction::Left ? s.substr(0, n) : s.substr(s.size() - n);
            }
            case TExprFunction::Mid: {
                const std::u16string s = ToText(a[0]);
                const auto start = static_cast<std::size_t>(ToWhole(a[1], 1, 2147483647));
                if (start > s.size()) return std::u16string();
                const std::size_t length =
                    a.size() > 2 ? static_cast<std::size_t>(ToWhole(a[2], 0, 2147483647))
                                 : std::u16string::npos;
                return s.substr(start - 1, length);
            }
            case TExprFunction::Trim:
            case TExprFunction::LTrim:
            case TExprFunction::RTrim: {
                std::u16string s = ToText(a[0]);
                if (!s.empty() && (s.front() == u'\u3000' || s.back() == u'\u3000'))
                    Fail(u"全角スペースを Trim が取り除くかどうかは確かめられていません");
                if (f != TExprFunction::RTrim)
                    s.erase(0, std::min(s.find_first_not_of(u' '), s.size()));
                if (f != TExprFunction::LTrim) {
                    const std::size_t last = s.find_last_not_of(u' ');
                    s.erase(last == std::u16string::npos ? 0 : last + 1);
                }
                return s;
            }
            case TExprFunction::UCase:
            case TExprFunction::LCase:
                return ChangeCase(ToText(a[0]), f == TExprFunction::UCase);
            case TExprFunction::InStr:
                return InStr(a);
            case TExprFunction::Abs:
            case TExprFunction::Int:
            case TExprFunction::Fix:
            case TExprFunction::Sgn:
                return NumberFunction(f, a[0]);
            case TExprFunction::Round: {
                const std::int64_t places = a.size() > 1 ? ToWhole(a[1], 0, 15) : 0;
                TNumber n = ToNumber(a[0]);
                if (n.kind == TNumber::Kind::Long) return FromNumber(n);
                if (n.kind == TNumber::Kind::Currency && places >= 4) return FromNumber(n);
                const double rounded = RoundHalfEven(n.AsDouble(), static_cast<int>(places));
                if (n.kind == TNumber::Kind::Currency) {
                    n.integer = static_cast<std::int64_t>(std::nearbyint(rounded * 10000.0));
                    return FromNumber(n);
                }
                n.kind = TNumber::Kind::Double;
                n.real = rounded;
                return FromNumber(n);
            }
            case TExprFunction::CStr:
                return ToText(a[0]);
            case TExprFunction::CLng:
                return ToWhole(a[0], std::numeric_limits<std::int32_t>::min(),
                               std::numeric_limits<std::int32_t>::max());
            case TExprFunction::CInt:
                return ToWhole(a[0], -32768, 32767);
            case TExprFunction::CDbl:
                if (std::holds_alternative<TDateTime>(a[0])) return std::get<TDateTime>(a[0]).Days;
                return ToDouble(a[0]);
            case TExprFunction::CCur: {
                const TNumber n = ToNumber(a[0]);
                if (n.kind == TNumber::Kind::Currency) return FromNumber(n);
                const long double scaled = static_cast<long double>(n.AsDouble()) * 10000.0L;
                if (!(std::fabs(scaled) < 9.2e18L)) Fail(u"オーバーフローしました");
                return TCurrency{static_cast<std::int64_t>(std::nearbyint(scaled))};
            }
            case TExprFunction::CDate:
                return ToDate(a[0]);
            case TExprFunction::CBool:
                return ToBoolean(a[0]);
            default:
                break;
        }
        return TValue{};
    }

    static TValue NumberFunction(TExprFunction f, const TValue& v) {
        TNumber n = ToNumber(v);
        if (f == TExprFunction::Sgn) {
            const double d = n.AsDouble();
            return std::int64_t{d > 0 ? 1 : d < 0 ? -1 : 0};
        }
        if (n.kind == TNumber::Kind::Long) {
            if (f == TExprFunction::Abs && n.integer < 0) n.integer = -n.integer;
            return FromNumber(n);
        }
        if (n.kind == TNumber::Kind::Currency) {
            if (f == TExprFunction::Abs) {
                n.integer = n.integer < 0 ? -n.integer : n.integer;
            } else {
                std::int64_t q = n.integer / 10000;
                if (f == TExprFunction::Int && n.integer % 10000 < 0) --q;
                n.integer = q * 10000;
            }
            return FromNumber(n);
        }
        n.real = f == TExprFunction::Abs   ? std::fabs(n.real)
                 : f == TExprFunction::Int ? std::floor(n.real)
                                           : std::trunc(n.real);
        return FromNumber(n);
    }

    static std::u16string ChangeCase(std::u16string s, bool upper) {
        for (char16_t& c : s) {
            if (c >= 0x100 && c < 0x500)
                Fail(u"文字「" + std::u16string(1, c) +
                     u"」の大文字・小文字の変換には対応していません");
            if (!upper) {
                c = FoldCase(c);
                continue;
            }
            const bool asciiLower = c >= u'a' && c <= u'z';
            const bool latinLower = c >= 0xE0 && c <= 0xFE && c != 0xF7;
            const bool wideLower = c >= 0xFF41 && c <= 0xFF5A;
            if (asciiLower || latinLower || wideLower) c = static_cast<char16_t>(c - 0x20);
            if (c == 0xB5 || c == 0xFF)
                Fail(u"文字「" + std::u16string(1, c) + u"」の大文字への変換には対応していません");
        }
        return s;
    }

    static TValue InStr(const std::vector<TValue>& a) {
        std::size_t start = 1, first = 0;
        if (a.size() == 3) {
            start = static_cast<std::size_t>(ToWhole(a[0], 1, 2147483647));
            first = 1;
        }
        const std::u16string haystack = FoldCase(ToText(a[first]));
        const std::u16string needle = FoldCase(ToText(a[first + 1]));
        if (!AllPlain(haystack) || !AllPlain(needle))
            Fail(u"この文字列の検索はデータベースの並べ替え順序によります");
        if (start > haystack.size()) return std::int64_t{0};
        const std::size_t found = haystack.find(needle, start - 1);
        return static_cast<std::int64_t>(found == std::u16string::npos ? 0 : found + 1);
    }

    const TAccessExpression::TProgram& p_;
    const TExpressionContext& context_;
};

}  // namespace

bool MatchesLike(std::u16string_view text, std::u16string_view pattern) {
    const std::vector<TLikeItem> items = CompileLike(pattern);
    const std::u16string folded = FoldCase(text);
    std::vector<std::vector<signed char>> memo(items.size() + 1,
                                               std::vector<signed char>(folded.size() + 1, -1));
    return MatchFrom(items, 0, folded, 0, memo);
}

TValue TAccessExpression::Evaluate(const TExpressionContext& context) const {
    return TEvaluator(*program_, context).Run(program_->root);
}

bool RulePasses(const TValue& result, const TAccessExpression& rule) {
    if (IsNull(result)) return true;
    try {
        return ToBoolean(result);
    } catch (const TConversionError& e) {
        ThrowExpressionFailed(rule.Text(), e.why);
    }
}

bool PassesValidationRule(const TAccessExpression& rule, const TValue& value, TDateTime now) {
    TExpressionContext context;
    context.now = now;
    context.currentValue = value;
    return RulePasses(rule.Evaluate(context), rule);
}

}  // namespace qm::jet
