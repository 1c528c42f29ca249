// A small evaluator of the Access expressions kept in design-view properties: a field's
// DefaultValue, the ValidationRule of a field or of a table, and a calculated column's
// Expression. What it cannot evaluate exactly is refused when the text is parsed, so that a
// writer can refuse an import up front, quoting the expression, instead of skipping a rule.
//
// Supported: literals (numbers, &H hex, "text" and 'text', #dates# as yyyy/m/d, yyyy-m-d or
// m/d/yyyy with an optional h:nn[:ss] [AM|PM], or a time alone; True/False/Yes/No/On/Off,
// Null), field references [Name], the operators ^ - * / \ Mod + & = <> < <= > >= Like,
// Between…And, In (…), Is [Not] Null, Not And Or Xor Eqv Imp (precedence as in VBA), and the
// functions Date Now Time Year Month Day Hour Minute Second Weekday DateAdd DateSerial
// TimeSerial DateValue Len Left Right Mid Trim LTrim RTrim UCase LCase InStr Nz IIf Abs Int
// Fix Sgn Round CStr CLng CInt CDbl CCur CDate CBool IsNull. Names and keywords ignore case.
//
// Null follows VBA: arithmetic, comparisons and most functions give Null when an operand is
// Null; & treats Null as ""; And/Or/Not use three-valued logic (False And Null = False,
// True Or Null = True). Text comparisons ignore case as the database's text comparison does;
// an ordering comparison (<, >, Between) of texts is evaluated only for letters, digits and
// spaces, and a text = text comparison only where case is the sole possible difference —
// otherwise the evaluation fails with an error rather than guess the sort order.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "targets/value.h"

namespace qm::jet {

// Where an expression comes from decides how its text reads.
enum class TExpressionKind : std::uint8_t {
    DefaultValue,  // a leading "=" is allowed and ignored
    FieldRule,     // a comparison may leave out its left operand: the field's own value
    Expression,    // a table-level rule or a calculated column: fields are named [Name]
};

// What an evaluation sees: the row's fields (looked up ignoring case), the value under test of
// a field rule, and the clock (injected, so that tests and one import use one "now").
struct TExpressionContext {
    TDateTime now;                                                 // local date and time
    TValue currentValue;                                           // field rules only
    std::function<const TValue*(std::u16string_view name)> field;  // nullptr: unknown field
};

class TAccessExpression {
  public:
    // Throws qm::Error quoting `text` when it is not an expression this evaluator can evaluate
    // exactly (a syntax error, an unknown function or name, Format, a domain function …).
    static TAccessExpression Parse(std::u16string_view text, TExpressionKind kind);

    // The expression's value for one row. Throws qm::Error quoting the expression when the
    // value cannot be computed (division by zero, a type mismatch, an overflow, a text
    // comparison that depends on the sort order).
    TValue Evaluate(const TExpressionContext& context) const;

    // True when the value depends neither on fields nor on the clock.
    bool IsConstant() const;
    // The field names the expression refers to, as written, each once.
    const std::vector<std::u16string>& FieldNames() const;
    const std::u16string& Text() const;

    struct TProgram;

  private:
    std::shared_ptr<const TProgram> program_;
};

// A rule passes unless it evaluates to False: a rule that gives Null (">0" for an empty
// field) passes, as Access lets a Null through a field rule that does not say "Is Not Null".
// Any other non-Boolean result is converted as VBA's CBool does.
bool RulePasses(const TValue& result, const TAccessExpression& rule);

// A field-level rule for `value`: evaluates `rule` (parsed as TExpressionKind::FieldRule) with
// `value` as the implicit left operand and `now` as the clock.
bool PassesValidationRule(const TAccessExpression& rule, const TValue& value, TDateTime now);

// Access's Like: * any run, ? one character, # one digit, [abc] [a-z] [!abc] one character of
// (or not of) a list; letters compare ignoring case. Throws qm::Error for a malformed pattern.
bool MatchesLike(std::u16string_view text, std::u16string_view pattern);

}  // namespace qm::jet
