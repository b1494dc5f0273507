// Every failure of the synthesizer is a SynthError whose message says what
// failed and why; kvx-synth's main catches it once.
#pragma once

#include <stdexcept>

namespace kovran::synth {

struct SynthError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace kovran::synth
