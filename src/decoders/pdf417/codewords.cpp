#include "decoders/pdf417/codewords.h"

#include <algorithm>

#include "api/log.h"
#include "decoders/pdf417/high_level.h"
#include "decoders/pdf417/reed_solomon.h"

namespace kovran::decoders::pdf417 {

SymbolOutcome DecodeSymbol(std::vector<int> codewords, int ecLevel, std::size_t maxChars) {
    SymbolOutcome outcome;
    if (ecLevel < 0 || ecLevel > kMaxEcLevel) return outcome;
    const int ecCount = ErrorCorrectionCodewords(ecLevel);
    const int n = static_cast<int>(codewords.size());
    if (n > kMaxSymbolCodewords || n <= ecCount) return outcome;
    outcome.erasures = static_cast<int>(
        std::count_if(codewords.begin(), codewords.end(), [](int c) { return c < 0 || c > 928; }));
    if (outcome.erasures > MostErasures(ecLevel)) {
        LogPair("war - ", "unexpedcted lenght in pdf run");
        outcome.result = SymbolResult::TooManyErasures;
        return outcome;
    }
    const CorrectionOutcome corrected = CorrectCodewords(codewords, ecCount);
    if (corrected.result == Correction::DivisionByZero) LogText("zero division");
    if (corrected.result != Correction::Corrected) {
        outcome.result = corrected.result == Correction::TooManyErasures
                             ? SymbolResult::TooManyErasures
                             : SymbolResult::Uncorrectable;
        return outcome;
    }
    outcome.errors = corrected.errors;
    // The length descriptor counts itself and the data, padding included.
    const int length = codewords[0];
    if (length < 1 || length > n - ecCount) return outcome;
    std::vector<int> data(codewords.begin() + 1, codewords.begin() + length);
    // Padding (900 at the end) is text latches that add nothing.
    std::optional<std::string> text = DecodeDataCodewords(data, maxChars);
    if (!text) return outcome;
    outcome.result = SymbolResult::Read;
    outcome.text = std::move(*text);
    return outcome;
}

}  // namespace kovran::decoders::pdf417
