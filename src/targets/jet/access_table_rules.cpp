#include "targets/jet/access_table_rules.h"

#include "platform/error.h"
#include "targets/jet/jet_text.h"

namespace qm::jet {
namespace {

// A text property's value: UTF-16LE (or Jet's compressed form), possibly with a terminating NUL.
std::optional<std::u16string> TextProperty(const TJetProperties::TValues& values,
                                           std::u16string_view name) {
    const auto found = values.find(std::u16string(name));
    if (found == values.end()) return std::nullopt;
    const std::string& raw = found->second;
    std::u16string text =
        DecodeJetText({reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size()});
    while (!text.empty() && text.back() == u'\0')
        text.pop_back();
    if (text.empty()) return std::nullopt;
    return text;
}

std::optional<TAccessExpression> Parse(const TJetProperties::TValues& values,
                                       std::u16string_view property, TExpressionKind kind,
                                       std::u16string_view table, std::u16string_view field,
                                       std::u16string_view what) {
    const auto text = TextProperty(values, property);
    if (!text) return std::nullopt;
    try {
        return TAccessExpression::Parse(*text, kind);
    } catch (const Error& e) {
        std::u16string where = u"テーブル「" + std::u16string(table) + u"」";
        if (!field.empty()) where += u"のフィールド「" + std::u16string(field) + u"」";
        throw Error(where + u"の" + std::u16string(what) + u": " + e.Message());
    }
}

}  // namespace

TTableRules ParseTableRules(const TJetProperties& properties, std::u16string_view table) {
    TTableRules rules;
    rules.validationRule = Parse(properties.table, u"ValidationRule", TExpressionKind::Expression,
                                 table, u"", u"入力規則");
    rules.validationText = TextProperty(properties.table, u"ValidationText").value_or(u"");
    for (const auto& [field, values] : properties.columns) {
        TFieldRules f;
        f.defaultValue =
            Parse(values, u"DefaultValue", TExpressionKind::DefaultValue, table, field, u"既定値");
        f.validationRule =
            Parse(values, u"ValidationRule", TExpressionKind::FieldRule, table, field, u"入力規則");
        f.validationText = TextProperty(values, u"ValidationText").value_or(u"");
        f.expression = Parse(values, u"Expression", TExpressionKind::Expression, table, field,
                             u"集計フィールドの式");
        if (f.defaultValue || f.validationRule || f.expression || !f.validationText.empty())
            rules.fields.emplace(field, std::move(f));
    }
    return rules;
}

}  // namespace qm::jet
