// The defaults, validation rules and calculated-column expressions of one Access table, read
// from its design-view properties and parsed up front, so that a writer can refuse an import
// before anything is written when one of them is outside what the expression evaluator can
// evaluate.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "targets/jet/access_expression.h"
#include "targets/jet/jet_properties.h"

namespace qm::jet {

struct TFieldRules {
    std::optional<TAccessExpression> defaultValue;    // DefaultValue
    std::optional<TAccessExpression> validationRule;  // ValidationRule (a field rule)
    std::u16string validationText;                    // ValidationText (may be empty)
    std::optional<TAccessExpression> expression;      // Expression of a calculated column
};

struct TTableRules {
    std::optional<TAccessExpression> validationRule;  // the table's rule, naming fields
    std::u16string validationText;
    std::map<std::u16string, TFieldRules> fields;  // by field name as stored; only fields that
                                                   // have one of the properties
};

// Parses every DefaultValue, ValidationRule and Expression of the table. Throws qm::Error for
// the first one the evaluator cannot take, naming the table, the field and the property and
// quoting the expression. Empty property texts count as absent.
TTableRules ParseTableRules(const TJetProperties& properties, std::u16string_view table);

}  // namespace qm::jet
