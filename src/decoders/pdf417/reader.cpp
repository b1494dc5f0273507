#include "decoders/pdf417/reader.h"

#include <exception>
#include <new>

#include "KovranMS.h"
#include "api/frame_state.h"
#include "api/log.h"
#include "decoders/pdf417/codewords.h"
#include "decoders/pdf417/symbol_sampling.h"
#include "imaging/zone_cleaning.h"
#include "platform/sys_error.h"

namespace kovran::decoders::pdf417 {

namespace {

int Failed(const char* message) {
    platform::SetLastSystemError(platform::kErrorNotEnoughMemory);
    LogPairValue("err - ", message, platform::LastSystemError());
    SetLastResult(KVX_ERR_OUT_OF_MEMORY);
    return kPdf417AllocationFailed;
}

}  // namespace

int ReadPdf417(imaging::ConstImageView zone, int maxChars, Pdf417Reading& out) {
    out = {};
    if (maxChars <= 0 || zone.Empty() || zone.Channels() != 1) return 0;
    for (int offset : kPdf417CleaningOffsets) {
        imaging::ImageBuffer cleaned;
        try {
            cleaned = imaging::CleanZone(zone, offset);
        } catch (const std::exception&) {
            return Failed("read pdf invalid memory allocation");
        }
        SamplingOutcome sampled;
        try {
            sampled = SampleSymbol(cleaned.View());
        } catch (const std::bad_alloc&) {
            return Failed("invalid memory allocation looking for pdf417");
        } catch (const std::exception&) {
            // An image operation refusing its input: nothing to read here.
            return 0;
        }
        for (SymbolCodewords& symbol : sampled.candidates) {
            SymbolOutcome decoded;
            try {
                decoded = DecodeSymbol(std::move(symbol.codewords), symbol.ecLevel,
                                       static_cast<std::size_t>(maxChars));
            } catch (const std::bad_alloc&) {
                return Failed("read pdf (2) with invalid memory allocation");
            }
            if (decoded.result == SymbolResult::Read && !decoded.text.empty()) {
                CharBox box;
                box.values[1] = 0;
                box.values[2] = static_cast<std::uint16_t>(zone.Width() - 1);
                box.values[3] = 0;
                box.values[4] = static_cast<std::uint16_t>(zone.Height() - 1);
                out.text = std::move(decoded.text);
                out.confidence.assign(out.text.size(), kPdf417Confidence);
                out.boxes.assign(out.text.size(), box);
                return static_cast<int>(out.text.size());
            }
        }
        if (!sampled.symbolLike) break;
    }
    return 0;
}

}  // namespace kovran::decoders::pdf417
