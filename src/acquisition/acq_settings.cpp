#include "acquisition/acq_settings.h"

#include "acquisition/images.h"
#include "api/config_dir.h"

namespace kovran::acquisition {

AcqSettings TakeAcqSettings() {
    const SettingsRecord& s = Settings();
    return {.scan = s.scan,
            .mode = device::AcqMode(),
            .typeDoc = s.ocr.typeDoc,
            .deskewMicr = s.ocr.deskewMicr,
            .configDir = Config().dir,
            .twoPartAcq = Images().twoPartAcq,
            .secondPart = Images().secondPart,
            .movementFlag = Images().movementFlag};
}

}  // namespace kovran::acquisition
