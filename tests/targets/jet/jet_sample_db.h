// A small database made by our own builder, shared by the engine's tests.
#pragma once

#include <string>
#include <vector>

#include "targets/jet/jet_builder.h"

namespace qm::jet::sample {

inline TJetValue Int(std::int64_t v) {
    TJetValue x;
    x.kind = TJetValue::Kind::Integer;
    x.integer = v;
    return x;
}
inline TJetValue Text(std::u16string v) {
    TJetValue x;
    x.kind = TJetValue::Kind::Text;
    x.text = std::move(v);
    return x;
}
inline TJetValue Real(TJetValue::Kind kind, double v) {
    TJetValue x;
    x.kind = kind;
    x.real = v;
    return x;
}
inline TJetValue Bool(bool v) {
    TJetValue x;
    x.kind = TJetValue::Kind::Boolean;
    x.integer = v ? 1 : 0;
    return x;
}
inline TJetValue Money(std::int64_t tenThousandths) {
    TJetValue x;
    x.kind = TJetValue::Kind::Currency;
    x.integer = tenThousandths;
    return x;
}

// Two tables: 商品 (every column type the builder writes; `rows` rows) and an empty one. The
// dates start at `firstDay` (days since 1899-12-30; before it by default, where Access counts
// the fraction forwards from the day).
inline std::string SampleDatabase(int rows = 3, double firstDay = -1.25) {
    TJetBuilder builder({{u"商品",
                          {{u"ID", kTypeLong},
                           {u"名前", kTypeText, 50},
                           {u"価格", kTypeCurrency},
                           {u"数量", kTypeInteger},
                           {u"比率", kTypeDouble},
                           {u"日付", kTypeDateTime},
                           {u"済", kTypeBoolean},
                           {u"区分", kTypeByte},
                           {u"大きな数", kTypeBigInt},
                           {u"単精度", kTypeSingle}}},
                         {u"Empty", {{u"A", kTypeText, 10}}}});
    for (int i = 0; i < rows; ++i) {
        std::vector<TJetValue> v = {
            Int(i),
            i == 1 ? TJetValue{} : Text(u"品目" + std::u16string(1, u'A' + i % 26)),
            Money(i * 12500),
            Int(-i),
            Real(TJetValue::Kind::Float, i * 0.25),
            Real(TJetValue::Kind::DateTime, firstDay + i),
            Bool(i % 2 == 0),
            Int(i % 256),
            Int(std::int64_t{1} << 40),
            Real(TJetValue::Kind::Float, 1.5)};
        builder.AddRow(0, v);
    }
    return builder.Finish();
}

}  // namespace qm::jet::sample
