// Reading the text of an Access expression into its program: a lexer and a recursive-descent
// parser with VBA's precedence (lowest first): Imp, Eqv, Xor, Or, And, Not, comparisons
// (= <> < <= > >= Like Is Between In), &, + -, Mod, \, * /, unary minus, ^.
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>

#include "platform/case_fold.h"
#include "platform/error.h"
#include "targets/jet/access_expression_date.h"
#include "targets/jet/access_expression_program.h"
#include "text/unicode.h"

namespace qm::jet {

void ThrowUnsupportedExpression(std::u16string_view text, std::u16string_view why) {
    throw Error(u"Access の式「" + std::u16string(text) +
                u"」はこのプログラムでは評価できません（" + std::u16string(why) + u"）。");
}

void ThrowExpressionFailed(std::u16string_view text, std::u16string_view why) {
    throw Error(u"Access の式「" + std::u16string(text) + u"」を評価できませんでした（" +
                std::u16string(why) + u"）。");
}

namespace {

enum class TTok : std::uint8_t {
    End,
    Number,
    String,
    Date,
    Field,
    Word,
    Op,  // text holds the operator: + - * / \ ^ & = <> < <= > >= ( ) ,
};

struct TToken {
    TTok type = TTok::End;
    std::u16string text;  // word, field name, operator or string contents
    TValue value;         // numbers and dates
    std::size_t position = 0;
};

bool IsAsciiDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}
bool IsWordStart(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_' || c >= 0x80;
}
bool IsWordPart(char16_t c) {
    return IsWordStart(c) || IsAsciiDigit(c);
}
bool IsSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

std::u16string Ascii(std::string_view text) {
    return Utf8ToUtf16(text);
}

class TLexer {
  public:
    explicit TLexer(std::u16string_view text) : text_(text) {}

    std::vector<TToken> Run() {
        std::vector<TToken> tokens;
        for (;;) {
            while (pos_ < text_.size() && IsSpace(text_[pos_]))
                ++pos_;
            TToken token;
            token.position = pos_;
            if (pos_ >= text_.size()) {
                tokens.push_back(token);
                return tokens;
            }
            const char16_t c = text_[pos_];
            if (IsAsciiDigit(c) ||
                (c == u'.' && pos_ + 1 < text_.size() && IsAsciiDigit(text_[pos_ + 1]))) {
                ReadNumber(token);
            } else if (c == u'&' && pos_ + 1 < text_.size() &&
                       (text_[pos_ + 1] == u'H' || text_[pos_ + 1] == u'h')) {
                ReadHex(token);
            } else if (c == u'"' || c == u'\'') {
                ReadString(token, c);
            } else if (c == u'#') {
                ReadDate(token);
            } else if (c == u'[') {
                ReadField(token);
            } else if (IsWordStart(c)) {
                std::size_t end = pos_;
                while (end < text_.size() && IsWordPart(text_[end]))
                    ++end;
                token.type = TTok::Word;
                token.text = std::u16string(text_.substr(pos_, end - pos_));
                pos_ = end;
            } else {
                ReadOperator(token);
            }
            tokens.push_back(std::move(token));
        }
    }

  private:
    [[noreturn]] void Fail(std::u16string_view why) const {
        ThrowUnsupportedExpression(text_, why);
    }

    void ReadNumber(TToken& token) {
        std::string digits;
        bool real = false;
        while (pos_ < text_.size() && IsAsciiDigit(text_[pos_]))
            digits.push_back(static_cast<char>(text_[pos_++]));
        if (pos_ < text_.size() && text_[pos_] == u'.') {
            real = true;
            digits.push_back('.');
            ++pos_;
            while (pos_ < text_.size() && IsAsciiDigit(text_[pos_]))
                digits.push_back(static_cast<char>(text_[pos_++]));
        }
        if (pos_ < text_.size() && (text_[pos_] == u'E' || text_[pos_] == u'e')) {
            std::size_t p = pos_ + 1;
            std::string exponent = "e";
            if (p < text_.size() && (text_[p] == u'+' || text_[p] == u'-'))
                exponent.push_back(static_cast<char>(text_[p++]));
            if (p < text_.size() && IsAsciiDigit(text_[p])) {
                while (p < text_.size() && IsAsciiDigit(text_[p]))
                    exponent.push_back(static_cast<char>(text_[p++]));
                digits += exponent;
                real = true;
                pos_ = p;
            }
        }
        if (pos_ < text_.size() &&
            (IsWordPart(text_[pos_]) || text_[pos_] == u'!' || text_[pos_] == u'@' ||
             text_[pos_] == u'#' || text_[pos_] == u'%' || text_[pos_] == u'.'))
            Fail(u"数値の書き方を解釈できません");
        token.type = TTok::Number;
        const double value = std::strtod(digits.c_str(), nullptr);
        if (!std::isfinite(value)) Fail(u"数値が大きすぎます");
        // A whole number within Long's range is a Long, as VBA reads literals; larger ones and
        // numbers with a point or an exponent are Doubles.
        if (!real && value <= std::numeric_limits<std::int32_t>::max())
            token.value = static_cast<std::int64_t>(value);
        else
            token.value = value;
    }

    void ReadHex(TToken& token) {
        std::size_t p = pos_ + 2;
        std::uint64_t value = 0;
        std::size_t count = 0;
        for (; p < text_.size(); ++p, ++count) {
            const char16_t c = text_[p];
            int digit = -1;
            if (IsAsciiDigit(c)) digit = c - u'0';
            if (c >= u'A' && c <= u'F') digit = c - u'A' + 10;
            if (c >= u'a' && c <= u'f') digit = c - u'a' + 10;
            if (digit < 0) break;
            value = value * 16 + static_cast<unsigned>(digit);
            if (count >= 8) Fail(u"16進数が長すぎます");
        }
        if (count == 0 || (p < text_.size() && IsWordPart(text_[p])))
            Fail(u"16進数の書き方を解釈できません");
        // VBA reads up to four digits as an Integer and up to eight as a Long, both signed.
        std::int64_t signedValue = static_cast<std::int64_t>(value);
        if (count <= 4 && value >= 0x8000) signedValue -= 0x10000;
        if (count > 4 && value >= 0x80000000u) signedValue -= 0x100000000LL;
        token.type = TTok::Number;
        token.value = signedValue;
        pos_ = p;
    }

    void ReadString(TToken& token, char16_t quote) {
        std::u16string value;
        for (std::size_t p = pos_ + 1; p < text_.size(); ++p) {
            if (text_[p] == quote) {
                if (p + 1 < text_.size() && text_[p + 1] == quote) {
                    value.push_back(quote);
                    ++p;
                    continue;
                }
                token.type = TTok::String;
                token.value = std::move(value);
                pos_ = p + 1;
                return;
            }
            value.push_back(text_[p]);
        }
        Fail(u"文字列の終わりの引用符がありません");
    }

    void ReadDate(TToken& token) {
        const std::size_t end = text_.find(u'#', pos_ + 1);
        if (end == std::u16string_view::npos) Fail(u"日付の終わりの # がありません");
        const auto date = ParseExpressionDate(text_.substr(pos_ + 1, end - pos_ - 1), true);
        if (!date)
            Fail(u"日付 " + std::u16string(text_.substr(pos_, end - pos_ + 1)) +
                 u" の書き方を解釈できません");
        token.type = TTok::Date;
        token.value = *date;
        pos_ = end + 1;
    }

    void ReadField(TToken& token) {
        const std::size_t end = text_.find(u']', pos_ + 1);
        if (end == std::u16string_view::npos) Fail(u"フィールド名の終わりの ] がありません");
        token.type = TTok::Field;
        token.text = std::u16string(text_.substr(pos_ + 1, end - pos_ - 1));
        if (token.text.empty() || token.text.find(u'[') != std::u16string::npos)
            Fail(u"フィールド名を解釈できません");
        pos_ = end + 1;
        if (pos_ < text_.size() && (text_[pos_] == u'!' || text_[pos_] == u'.'))
            Fail(u"他のテーブルやフォームの参照には対応していません");
    }

    void ReadOperator(TToken& token) {
        const char16_t c = text_[pos_];
        const char16_t next = pos_ + 1 < text_.size() ? text_[pos_ + 1] : 0;
        token.type = TTok::Op;
        if ((c == u'<' && (next == u'>' || next == u'=')) || (c == u'>' && next == u'=')) {
            token.text = {c, next};
            pos_ += 2;
            return;
        }
        if (std::u16string_view(u"+-*/\\^&=<>(),").find(c) == std::u16string_view::npos)
            Fail(u"文字「" + std::u16string(1, c) + u"」を解釈できません");
        token.text = {c};
        ++pos_;
    }

    std::u16string_view text_;
    std::size_t pos_ = 0;
};

struct TFunctionInfo {
    const char16_t* name;
    TExprFunction function;
    std::uint8_t minArgs, maxArgs;
};

constexpr TFunctionInfo kFunctions[] = {
    {u"date", TExprFunction::Date, 0, 0},
    {u"now", TExprFunction::Now, 0, 0},
    {u"time", TExprFunction::Time, 0, 0},
    {u"year", TExprFunction::Year, 1, 1},
    {u"month", TExprFunction::Month, 1, 1},
    {u"day", TExprFunction::Day, 1, 1},
    {u"hour", TExprFunction::Hour, 1, 1},
    {u"minute", TExprFunction::Minute, 1, 1},
    {u"second", TExprFunction::Second, 1, 1},
    {u"weekday", TExprFunction::Weekday, 1, 2},
    {u"dateadd", TExprFunction::DateAdd, 3, 3},
    {u"dateserial", TExprFunction::DateSerial, 3, 3},
    {u"timeserial", TExprFunction::TimeSerial, 3, 3},
    {u"datevalue", TExprFunction::DateValue, 1, 1},
    {u"len", TExprFunction::Len, 1, 1},
    {u"left", TExprFunction::Left, 2, 2},
    {u"right", TExprFunction::Right, 2, 2},
    {u"mid", TExprFunction::Mid, 2, 3},
    {u"trim", TExprFunction::Trim, 1, 1},
    {u"ltrim", TExprFunction::LTrim, 1, 1},
    {u"rtrim", TExprFunction::RTrim, 1, 1},
    {u"ucase", TExprFunction::UCase, 1, 1},
    {u"lcase", TExprFunction::LCase, 1, 1},
    {u"instr", TExprFunction::InStr, 2, 3},
    {u"nz", TExprFunction::Nz, 2, 2},
    {u"iif", TExprFunction::IIf, 3, 3},
    {u"abs", TExprFunction::Abs, 1, 1},
    {u"int", TExprFunction::Int, 1, 1},
    {u"fix", TExprFunction::Fix, 1, 1},
    {u"sgn", TExprFunction::Sgn, 1, 1},
    {u"round", TExprFunction::Round, 1, 2},
    {u"cstr", TExprFunction::CStr, 1, 1},
    {u"clng", TExprFunction::CLng, 1, 1},
    {u"cint", TExprFunction::CInt, 1, 1},
    {u"cdbl", TExprFunction::CDbl, 1, 1},
    {u"ccur", TExprFunction::CCur, 1, 1},
    {u"cdate", TExprFunction::CDate, 1, 1},
    {u"cbool", TExprFunction::CBool, 1, 1},
    {u"isnull", TExprFunction::IsNull, 1, 1},
};

class TParser {
  public:
    TParser(std::u16string_view text, TExpressionKind kind) : text_(text), kind_(kind) {
        program_.text = std::u16string(text);
    }

    TAccessExpression::TProgram Run() {
        // Access keeps rules and defaults to 2,048 characters; longer text is not Access's.
        if (text_.size() > 2048) Fail(u"式が長すぎます");
        tokens_ = TLexer(text_).Run();
        if (kind_ == TExpressionKind::DefaultValue && IsOp(u"=")) ++pos_;
        if (Peek().type == TTok::End) Fail(u"式が空です");
        program_.root = ParseImp();
        if (Peek().type != TTok::End) FailAt(u"余分な語句があります");
        if (kind_ == TExpressionKind::FieldRule) CheckRuleOperands(program_.root);
        return std::move(program_);
    }

  private:
    using Kind = TExprNode::Kind;

    [[noreturn]] void Fail(std::u16string_view why) const {
        ThrowUnsupportedExpression(text_, why);
    }
    [[noreturn]] void FailAt(std::u16string_view why) const {
        const TToken& t = Peek();
        std::u16string where = t.type == TTok::End
                                   ? std::u16string(u"式の終わり")
                                   : Ascii(std::to_string(t.position + 1)) + u" 文字目";
        Fail(std::u16string(why) + u"：" + where);
    }

    const TToken& Peek(std::size_t ahead = 0) const {
        return tokens_[std::min(pos_ + ahead, tokens_.size() - 1)];
    }
    bool IsOp(std::u16string_view op, std::size_t ahead = 0) const {
        return Peek(ahead).type == TTok::Op && Peek(ahead).text == op;
    }
    bool IsWord(std::u16string_view word, std::size_t ahead = 0) const {
        return Peek(ahead).type == TTok::Word && SameText(Peek(ahead).text, word);
    }
    void ExpectOp(std::u16string_view op) {
        if (!IsOp(op)) FailAt(u"「" + std::u16string(op) + u"」がありません");
        ++pos_;
    }
    void ExpectWord(std::u16string_view word) {
        if (!IsWord(word)) FailAt(u"「" + std::u16string(word) + u"」がありません");
        ++pos_;
    }

    std::size_t Add(TExprNode node) {
        program_.nodes.push_back(std::move(node));
        return program_.nodes.size() - 1;
    }
    std::size_t Binary(TExprOp op, std::size_t left, std::size_t right) {
        TExprNode node;
        node.kind = Kind::Binary;
        node.op = op;
        node.args = {left, right};
        return Add(std::move(node));
    }
    std::size_t Unary(TExprOp op, std::size_t operand) {
        TExprNode node;
        node.kind = Kind::Unary;
        node.op = op;
        node.args = {operand};
        return Add(std::move(node));
    }

    // Left-associative binary levels named by their keyword.
    template <typename Next>
    std::size_t LogicalLevel(std::u16string_view word, TExprOp op, Next next) {
        std::size_t left = (this->*next)();
        while (IsWord(word)) {
            ++pos_;
            left = Binary(op, left, (this->*next)());
        }
        return left;
    }
    // Parentheses, function arguments, Not and unary minus nest; the depth is bounded so that
    // no text can exhaust the stack of the parser or of the evaluator.
    struct TNesting {
        explicit TNesting(TParser& parser) : parser_(parser) {
            if (++parser_.depth_ > kMaxDepth) parser_.Fail(u"式の入れ子が深すぎます");
        }
        ~TNesting() { --parser_.depth_; }
        TParser& parser_;
    };
    static constexpr int kMaxDepth = 100;

    std::size_t ParseImp() {
        const TNesting nesting(*this);
        return LogicalLevel(u"imp", TExprOp::Imp, &TParser::ParseEqv);
    }
    std::size_t ParseEqv() { return LogicalLevel(u"eqv", TExprOp::Eqv, &TParser::ParseXor); }
    std::size_t ParseXor() { return LogicalLevel(u"xor", TExprOp::Xor, &TParser::ParseOr); }
    std::size_t ParseOr() { return LogicalLevel(u"or", TExprOp::Or, &TParser::ParseAnd); }
    std::size_t ParseAnd() { return LogicalLevel(u"and", TExprOp::And, &TParser::ParseNot); }

    std::size_t ParseNot() {
        if (IsWord(u"not")) {
            ++pos_;
            const TNesting nesting(*this);
            return Unary(TExprOp::Not, ParseNot());
        }
        return ParseComparison();
    }

    bool AtComparison() const {
        const TToken& t = Peek();
        if (t.type == TTok::Op)
            return t.text == u"=" || t.text == u"<>" || t.text == u"<" || t.text == u"<=" ||
                   t.text == u">" || t.text == u">=";
        if (IsWord(u"like") || IsWord(u"between") || IsWord(u"in") || IsWord(u"is")) return true;
        return IsWord(u"not") && (IsWord(u"like", 1) || IsWord(u"between", 1) || IsWord(u"in", 1));
    }

    std::size_t ParseComparison() {
        std::size_t left;
        if (kind_ == TExpressionKind::FieldRule && AtComparison()) {
            TExprNode current;
            current.kind = Kind::Current;
            program_.usesFields = true;  // the value under test varies like a field
            left = Add(std::move(current));
        } else {
            left = ParseConcat();
        }
        while (AtComparison()) {
            const TToken& t = Peek();
            if (t.type == TTok::Op) {
                static constexpr std::pair<std::u16string_view, TExprOp> kOps[] = {
                    {u"=", TExprOp::Equal},   {u"<>", TExprOp::NotEqual},
                    {u"<", TExprOp::Less},    {u"<=", TExprOp::LessEqual},
                    {u">", TExprOp::Greater}, {u">=", TExprOp::GreaterEqual}};
                TExprOp op = TExprOp::Equal;
                for (const auto& [text, o] : kOps)
                    if (t.text == text) op = o;
                ++pos_;
                left = Binary(op, left, ParseConcat());
                continue;
            }
            TExprNode node;
            if (IsWord(u"is")) {
                ++pos_;
                node.kind = Kind::IsNull;
                if (IsWord(u"not")) {
                    node.negated = true;
                    ++pos_;
                }
                ExpectWord(u"null");
                node.args = {left};
                left = Add(std::move(node));
                continue;
            }
            if (IsWord(u"not")) {
                node.negated = true;
                ++pos_;
            }
            node.args = {left};
            if (IsWord(u"like")) {
                ++pos_;
                node.kind = Kind::Like;
                node.args.push_back(ParseConcat());
                const TExprNode& pattern = program_.nodes[node.args[1]];
                if (pattern.kind == Kind::Literal) {
                    if (const auto* text = std::get_if<std::u16string>(&pattern.value)) {
                        try {
                            MatchesLike(u"", *text);
                        } catch (const Error&) {
                            Fail(u"Like のパターン「" + *text + u"」を解釈できません");
                        }
                    }
                }
            } else if (IsWord(u"between")) {
                ++pos_;
                node.kind = Kind::Between;
                node.args.push_back(ParseConcat());
                ExpectWord(u"and");
                node.args.push_back(ParseConcat());
            } else {
                ExpectWord(u"in");
                node.kind = Kind::In;
                ExpectOp(u"(");
                node.args.push_back(ParseImp());
                while (IsOp(u",")) {
                    ++pos_;
                    node.args.push_back(ParseImp());
                }
                ExpectOp(u")");
            }
            left = Add(std::move(node));
        }
        return left;
    }

    std::size_t ParseConcat() {
        std::size_t left = ParseAdditive();
        while (IsOp(u"&")) {
            ++pos_;
            left = Binary(TExprOp::Concat, left, ParseAdditive());
        }
        return left;
    }
    std::size_t ParseAdditive() {
        std::size_t left = ParseMod();
        while (IsOp(u"+") || IsOp(u"-")) {
            const TExprOp op = IsOp(u"+") ? TExprOp::Add : TExprOp::Subtract;
            ++pos_;
            left = Binary(op, left, ParseMod());
        }
        return left;
    }
    std::size_t ParseMod() {
        std::size_t left = ParseIntDivide();
        while (IsWord(u"mod")) {
            ++pos_;
            left = Binary(TExprOp::Mod, left, ParseIntDivide());
        }
        return left;
    }
    std::size_t ParseIntDivide() {
        std::size_t left = ParseMultiply();
        while (IsOp(u"\\")) {
            ++pos_;
            left = Binary(TExprOp::IntDivide, left, ParseMultiply());
        }
        return left;
    }
    std::size_t ParseMultiply() {
        std::size_t left = ParseNegate();
        while (IsOp(u"*") || IsOp(u"/")) {
            const TExprOp op = IsOp(u"*") ? TExprOp::Multiply : TExprOp::Divide;
            ++pos_;
            left = Binary(op, left, ParseNegate());
        }
        return left;
    }
    // Unary minus binds less tightly than ^: -2^2 is -4, as in VBA.
    std::size_t ParseNegate() {
        if (IsOp(u"-") || IsOp(u"+")) {
            const bool negate = IsOp(u"-");
            ++pos_;
            const TNesting nesting(*this);
            const std::size_t operand = ParseNegate();
            return negate ? Unary(TExprOp::Negate, operand) : operand;
        }
        return ParsePower();
    }
    std::size_t ParsePower() {
        std::size_t left = ParsePrimary();
        while (IsOp(u"^")) {
            ++pos_;
            std::size_t right;
            if (IsOp(u"-")) {
                ++pos_;
                right = Unary(TExprOp::Negate, ParsePrimary());
            } else {
                if (IsOp(u"+")) ++pos_;
                right = ParsePrimary();
            }
            left = Binary(TExprOp::Power, left, right);
        }
        return left;
    }

    std::size_t Literal(TValue value) {
        TExprNode node;
        node.kind = Kind::Literal;
        node.value = std::move(value);
        return Add(std::move(node));
    }

    std::size_t FieldReference(const std::u16string& name) {
        program_.usesFields = true;
        bool known = false;
        for (const auto& n : program_.fieldNames)
            known = known || SameText(n, name);
        if (!known) program_.fieldNames.push_back(name);
        TExprNode node;
        node.kind = Kind::Field;
        node.name = name;
        return Add(std::move(node));
    }

    std::size_t ParsePrimary() {
        const TToken t = Peek();
        switch (t.type) {
            case TTok::Number:
            case TTok::String:
            case TTok::Date:
                ++pos_;
                return Literal(t.value);
            case TTok::Field:
                ++pos_;
                return FieldReference(t.text);
            case TTok::Op:
                if (t.text == u"(") {
                    ++pos_;
                    const std::size_t inner = ParseImp();
                    ExpectOp(u")");
                    return inner;
                }
                FailAt(u"値がありません");
            case TTok::Word:
                return ParseWord();
            case TTok::End:
                break;
        }
        FailAt(u"値がありません");
    }

    std::size_t ParseWord() {
        const std::u16string word = Peek().text;
        ++pos_;
        for (const auto& [name, value] : {std::pair{u"true", true},
                                          {u"yes", true},
                                          {u"on", true},
                                          {u"false", false},
                                          {u"no", false},
                                          {u"off", false}})
            if (SameText(word, name)) return Literal(value);
        if (SameText(word, u"null")) return Literal(TValue{});
        if (IsOp(u"(")) return ParseCall(word);
        for (const char16_t* keyword : {u"and", u"or", u"not", u"xor", u"eqv", u"imp", u"mod",
                                        u"like", u"is", u"between", u"in"})
            if (SameText(word, keyword)) {
                --pos_;
                FailAt(u"値がありません");
            }
        for (const auto& f : kFunctions)
            if (SameText(word, f.name))
                Fail(u"関数 " + word + u" には括弧が必要です（例: " + word + u"()）");
        // A bare name is a field in a table rule or a calculated column; elsewhere Access
        // would have quoted it, so it is not guessed at.
        if (kind_ == TExpressionKind::Expression) return FieldReference(word);
        Fail(u"名前「" + word + u"」を解釈できません");
    }

    std::size_t ParseCall(const std::u16string& word) {
        const TFunctionInfo* info = nullptr;
        for (const auto& f : kFunctions)
            if (SameText(word, f.name)) info = &f;
        if (info == nullptr) Fail(u"関数 " + word + u" には対応していません");
        ExpectOp(u"(");
        TExprNode node;
        node.kind = Kind::Call;
        node.function = info->function;
        if (!IsOp(u")")) {
            node.args.push_back(ParseImp());
            while (IsOp(u",")) {
                ++pos_;
                node.args.push_back(ParseImp());
            }
        }
        ExpectOp(u")");
        if (node.args.size() < info->minArgs || node.args.size() > info->maxArgs)
            Fail(u"関数 " + word + u" の引数の数が正しくありません");
        if (info->function == TExprFunction::Date || info->function == TExprFunction::Now ||
            info->function == TExprFunction::Time)
            program_.usesClock = true;
        return Add(std::move(node));
    }

    // A field rule's parts joined by And/Or/Not must each be a comparison: a bare value such as
    // "A" Or "B" is left to Access's own reading rather than guessed.
    void CheckRuleOperands(std::size_t index) const {
        const TExprNode& node = program_.nodes[index];
        switch (node.kind) {
            case Kind::Unary:
                if (node.op == TExprOp::Not) return CheckRuleOperands(node.args[0]);
                break;
            case Kind::Binary:
                switch (node.op) {
                    case TExprOp::And:
                    case TExprOp::Or:
                    case TExprOp::Xor:
                    case TExprOp::Eqv:
                    case TExprOp::Imp:
                        CheckRuleOperands(node.args[0]);
                        CheckRuleOperands(node.args[1]);
                        return;
                    case TExprOp::Equal:
                    case TExprOp::NotEqual:
                    case TExprOp::Less:
                    case TExprOp::LessEqual:
                    case TExprOp::Greater:
                    case TExprOp::GreaterEqual:
                        return;
                    default:
                        break;
                }
                break;
            case Kind::Between:
            case Kind::In:
            case Kind::Like:
            case Kind::IsNull:
                return;
            case Kind::Call:
                if (node.function == TExprFunction::IsNull) return;
                break;
            case Kind::Literal:
                if (std::holds_alternative<bool>(node.value)) return;
                break;
            default:
                break;
        }
        Fail(u"比較演算子のない値は入力規則として解釈できません");
    }

    std::u16string_view text_;
    TExpressionKind kind_;
    std::vector<TToken> tokens_;
    std::size_t pos_ = 0;
    int depth_ = 0;
    TAccessExpression::TProgram program_;
};

}  // namespace

TAccessExpression TAccessExpression::Parse(std::u16string_view text, TExpressionKind kind) {
    TAccessExpression expression;
    expression.program_ = std::make_shared<const TProgram>(TParser(text, kind).Run());
    return expression;
}

bool TAccessExpression::IsConstant() const {
    return !program_->usesClock && !program_->usesFields;
}

const std::vector<std::u16string>& TAccessExpression::FieldNames() const {
    return program_->fieldNames;
}

const std::u16string& TAccessExpression::Text() const {
    return program_->text;
}

}  // namespace qm::jet
