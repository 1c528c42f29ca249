// The Access expression parser and evaluator over arbitrary text: the first byte picks the kind
// of expression, the rest is UTF-16LE text. Refusals and evaluation failures are qm::Error;
// anything else (a crash, a hang, an out-of-bounds read) is a fault.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/error.h"
#include "targets/jet/access_expression.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > 4096) return 0;
    const auto kind = static_cast<qm::jet::TExpressionKind>(data[0] % 3);
    std::u16string text;
    for (std::size_t i = 1; i + 1 < size; i += 2)
        text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    try {
        const auto expression = qm::jet::TAccessExpression::Parse(text, kind);
        const qm::TValue field = std::u16string(u"Ab1");
        qm::jet::TExpressionContext context;
        context.now = qm::TDateTime{45356.75};
        context.currentValue = std::int64_t{5};
        context.field = [&](std::u16string_view) { return &field; };
        const qm::TValue result = expression.Evaluate(context);
        qm::jet::RulePasses(result, expression);
    } catch (const qm::Error&) {
    }
    return 0;
}
