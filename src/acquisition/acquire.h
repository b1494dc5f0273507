// One acquisition into the image records: the set-up, the wait for the
// document, the worker threads around the bulk stream and the
// post-processing of what arrived.
#pragma once

#include <cstdint>

#include "KovranMS.h"
#include "acquisition/acq_settings.h"
#include "acquisition/image_record.h"
#include "acquisition/scan_state.h"
#include "acquisition/thr_acq.h"

namespace kovran::acquisition {

struct AcquireCall {
    int height = 0;  // lines at the front's vertical resolution; 0: none
    ScanDirection direction = ScanDirection::Forward;
    AcqPurpose purpose = AcqPurpose::Ordinary;
    // The feeder's background acquisition: the buffers of the working set
    // are already set up and the document already waited for.
    bool background = false;
    // The background acquisition's settings, taken when it was armed; a
    // host's acquisition takes its own once the mode is set up.
    const AcqSettings* settings = nullptr;
};

// One acquisition into MyImg (the feeder's background acquisition: into
// the next set). Returns 0, a negative error or a positive warning.
KVXResult AcquireImg(const AcquireCall& call);

// The threads around one stream into `work`; the post-processing is apart.
KVXResult RunAcquisitionThreads(ImageSet& work, const AcquireCall& call,
                                const AcqSettings& settings);

// Waits for a document at the input as the scan parameters ask.
KVXResult WaitForDocument(const AcquireCall& call, const AcqSettings& settings);

// The start command for the records and settings in force.
struct StartInputs {
    const ImageSet* records = nullptr;
    std::size_t transferLength = 0;
    AcqPurpose purpose = AcqPurpose::Ordinary;
    ScanDirection direction = ScanDirection::Forward;
    bool secondPart = false;
    const AcqSettings* settings = nullptr;
};
StartCommand BuildStartCommand(const StartInputs& in);

// Firmware below 0x3000 takes the acquisition's parameters as single
// requests before the stream.
void SendOlderSetUp(const ImageSet& work, const AcqSettings& settings);

// Turns the received lines into finished per-side records.
KVXResult PostProcess(ImageSet& work, const AcquireCall& call, bool documentComplete,
                      const AcqSettings& settings);

}  // namespace kovran::acquisition
