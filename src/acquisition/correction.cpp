// Placeholder bodies until the line correction lands: the lines stay raw.
#include "acquisition/correction.h"

namespace kovran::acquisition {

bool PrepareCorrectionCoefficients(CorrectionKind) {
    return true;
}
void FreeCorrectionCoefficients() {}

void ThrCor_0x3000(CorrectionBlock* block) {
    if (block == nullptr) return;
    block->flags.ok = true;
    block->flags.done = true;
}

void ThrCorOld(CorrectionBlock* block) {
    ThrCor_0x3000(block);
}

}  // namespace kovran::acquisition
