#include "acquisition/images.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "acquisition/scan.h"
#include "api/frame_state.h"
#include "api/library.h"
#include "api/log.h"
#include "platform/sys_error.h"
#include "platform/usb_vendors.h"

namespace kovran {

std::shared_ptr<ImageMemory> ImageMemory::Allocate(std::size_t bytes) {
    std::unique_ptr<std::uint8_t[]> memory(new (std::nothrow) std::uint8_t[bytes]);
    if (!memory) return nullptr;
    std::memset(memory.get(), 0xFF, bytes);
    return std::shared_ptr<ImageMemory>(new ImageMemory(std::move(memory), bytes));
}

void ImageMemory::Renew(std::size_t bytes) {
    std::memset(bytes_.get(), 0xFF, written_);
    written_ = 0;
    size_ = std::min(bytes, capacity_);
}

namespace acquisition {
namespace {

constexpr std::int32_t kMaxLines = 65535;
constexpr std::int32_t kBaseMaxHeight150 = 2048;
constexpr std::int32_t kFeederExtra = 256;
constexpr std::int32_t kFeederLongExtra = 2048;
constexpr std::int32_t kInkjetExtra = 512;
constexpr std::int32_t kCmc7HeightFactor = 4;
// Lines allocated beyond the height: the device may send a few more.
constexpr std::int64_t kSpareLines = 16;
// Firmware from this version sends one scan line ahead of the image.
constexpr std::uint16_t kFirmwareWithLead = 0x3001;

// Margins in 1/300 inch: leading (a, f) and trailing (b, c).
struct Margins {
    int a;
    int f;
    int b;
    int c;
};

Margins MarginsOf(const DeviceIdentity& id) {
    if (id.vid == platform::kMainVendor && id.pid == 11) return {100, 0, 270, 100};
    if (id.firmware == 0x1005 || id.firmware == 0x1007) return {0, 270, 0, 0};
    return {0, 270, 270, 0};
}

bool IsOrdinary(const ImagesRecord& images) {
    return device::AcqMode().request.kind == ScanKind::Ordinary && !images.secondPart;
}

void ClearSet(ImageSet& set) {
    for (ImageRecord& r : set) r = ImageRecord{};
}

// White memory for `bytes`: the smallest kept allocation that holds them,
// else a fresh one. Kept allocations too small for it are given back first,
// so that a larger creation does not hold both.
std::shared_ptr<ImageMemory> TakeMemory(std::size_t bytes) {
    std::vector<std::shared_ptr<ImageMemory>>& spare = Images().spare;
    auto best = spare.end();
    for (auto it = spare.begin(); it != spare.end(); ++it)
        if ((*it)->Capacity() >= bytes &&
            (best == spare.end() || (*it)->Capacity() < (*best)->Capacity()))
            best = it;
    if (best != spare.end()) {
        std::shared_ptr<ImageMemory> memory = std::move(*best);
        spare.erase(best);
        memory->Renew(bytes);
        return memory;
    }
    std::erase_if(spare, [bytes](const auto& m) { return m->Capacity() < bytes; });
    return ImageMemory::Allocate(bytes);
}

void AddUnique(std::vector<std::shared_ptr<ImageMemory>>& out,
               const std::shared_ptr<ImageMemory>& memory) {
    if (memory && std::find(out.begin(), out.end(), memory) == out.end()) out.push_back(memory);
}

// The rear and backlight of a single-stream device look into the front's
// lines and keep its memory alive.
void PointViewsIntoFront(ImageSet& set) {
    ImageRecord& front = set[kFront];
    for (int side : {kRear, kBacklight}) {
        ImageRecord& view = set[static_cast<std::size_t>(side)];
        if (!front.alloc) continue;
        const std::size_t offset =
            side == kRear ? front.sensorPixels
                          : static_cast<std::size_t>(front.channelPitch) * set[kRear].channels;
        view.alloc = front.alloc;
        view.data = front.data + offset;
        view.write = front.write + offset;
        view.lead = front.lead;
        view.Height = front.Height;
        view.allocSize = 0;
    }
}

bool AllocateRecord(ImageRecord& r, std::int32_t capacityLines, std::size_t stripWidth,
                    std::uint16_t firmware) {
    std::int64_t lines = capacityLines + kSpareLines;
    if (r.dpiV != 0 && r.dpiV < r.dpiH) lines = lines * r.dpiH / r.dpiV;
    const std::int64_t bytes =
        lines * (static_cast<std::int64_t>(r.stride) + static_cast<std::int64_t>(stripWidth));
    const std::int64_t lead = firmware >= kFirmwareWithLead ? r.stride : 0;
    if (bytes + lead > std::numeric_limits<std::int32_t>::max()) return false;
    auto memory = TakeMemory(static_cast<std::size_t>(bytes + lead));
    if (!memory) return false;
    r.alloc = std::move(memory);
    r.allocSize = static_cast<std::int32_t>(bytes);
    r.data = r.alloc->Bytes();
    r.write = r.data + lead;
    r.lead = static_cast<std::uint16_t>(lead);
    return true;
}

bool SecondPart(int height, bool* ok) {
    ImagesRecord& images = Images();
    if (!images.twoPartAcq) {
        images.secondPart = false;
        return false;
    }
    if (!images.secondPart) return false;
    if (height != 0) {
        // The second part goes on writing behind the first part's lines.
        ComputeHeights(height);
    }
    *ok = true;
    return true;
}

bool BuildImages(int height) {
    ImagesRecord& images = Images();
    const AcqModeRecord& mode = device::AcqMode();
    const ScanSettings& scan = Settings().scan;
    for (int side : {kRear, kFront, kBacklight}) {
        const SideGeometry& g = mode.geometry[static_cast<std::size_t>(side)];
        ImageRecord& r = images.myImg[static_cast<std::size_t>(side)];
        r.side = g.side;
        r.bytesPerPixel = g.bytesPerPixel;
        r.channels = g.channels;
        r.top = g.top;
        r.left = g.left;
        r.width = g.width;
        r.sensorPixels = g.sensorPixels;
        r.channelPitch = g.channelPitch;
        r.stride = g.stride;
        r.dpiH = g.dpiH;
        r.dpiV = g.dpiV;
        r.top0 = g.top0;
        r.left0 = g.left0;
        r.width0 = g.width0;
        r.right = g.right;
        r.skew = kNoSkew;
    }
    images.myImg[kFront].enabled = !scan.frontOff;
    images.myImg[kRear].enabled = !scan.rearOff;
    images.myImg[kBacklight].enabled = scan.backlightOn;
    ComputeHeights(height);
    const bool ok = InitMyImg();
    if (ok) SetImgSize();
    for (std::size_t i = 0; i < images.myImg.size(); ++i) {
        images.createdHeight[i] = images.myImg[i].Height;
        images.createdSize[i] = images.myImg[i].size;
    }
    return ok;
}

}  // namespace

ImagesRecord& Images() {
    return lib().Get<ImagesRecord>();
}

void FreeImages() {
    ImagesRecord& images = Images();
    std::vector<std::shared_ptr<ImageMemory>> freed;
    for (const ImageSet* set : {&images.myImg, &images.nextImg}) {
        // What was made of the lines after the scan lies where the records
        // now say.
        NoteRecordLines(*set);
        for (const ImageRecord& r : *set) AddUnique(freed, r.alloc);
    }
    AddUnique(freed, images.cmc7);
    images.cmc7.reset();
    ClearSet(images.myImg);
    ClearSet(images.nextImg);
    images.capacity = {};
    images.createdBytes = {};
    images.createdLead = {};
    // Memory a reader's copy of a record still holds is not ours to reuse.
    for (std::shared_ptr<ImageMemory>& m : freed)
        if (m.use_count() == 1) images.spare.push_back(std::move(m));
}

void ReleaseImages() {
    FreeImages();
    Images().spare.clear();
}

void NoteRecordLines(const ImageSet& set) {
    for (const ImageRecord& r : set) {
        // Records straight from the creation describe lines not yet
        // written: only a scan's records (processed or completed) count.
        if (!r.alloc || r.data == nullptr || !(r.processed || r.completed || r.deskewed)) continue;
        const std::uint8_t* begin = r.alloc->Bytes();
        if (r.data < begin || r.data > begin + r.alloc->Capacity()) continue;
        const std::size_t lines = static_cast<std::size_t>(std::max<int>(r.top, 0)) + r.Height;
        r.alloc->NoteWritten(static_cast<std::size_t>(r.data - begin) + lines * r.stride);
    }
}

bool RestoreNextMemory() {
    ImagesRecord& images = Images();
    ImageSet& next = images.nextImg;
    for (std::size_t i = 0; i < next.size(); ++i) {
        const std::size_t bytes = images.createdBytes[i];
        if (bytes == 0) continue;
        ImageRecord& r = next[i];
        const std::size_t lead = images.createdLead[i];
        if (!r.alloc || r.alloc->Capacity() < bytes || r.alloc == images.myImg[i].alloc) {
            auto memory = ImageMemory::Allocate(bytes);
            if (!memory) return false;
            r.alloc = std::move(memory);
        } else {
            r.alloc->Renew(bytes);
        }
        r.data = r.alloc->Bytes();
        r.write = r.data + lead;
        r.lead = static_cast<std::uint16_t>(lead);
        r.allocSize = static_cast<std::int32_t>(bytes - lead);
    }
    if (Settings().scan.acq.singleBuffer) PointViewsIntoFront(next);
    return true;
}

void ComputeHeights(int height) {
    ImagesRecord& images = Images();
    const DeviceIdentity id = device::Identity();
    const AcqModeSettings& acq = Settings().scan.acq;
    const AcqModeRecord& mode = device::AcqMode();
    ImageSet& set = images.myImg;
    Margins m = MarginsOf(id);
    if (mode.request.kind == ScanKind::Calibration) {
        m = {0, 0, 0, 0};
    } else if (images.twoPartAcq && !images.secondPart) {
        m.b = m.c = 0;
    } else if (images.twoPartAcq && images.secondPart) {
        m.a = m.f = 0;
    }
    const std::int64_t d = std::max(set[kFront].dpiV, set[kRear].dpiV);
    auto lines = [d](int v) { return d * v / 300; };
    images.leadingLines = static_cast<std::int32_t>(lines(m.f));
    images.trailingLines = static_cast<std::int32_t>(lines(m.c));
    images.frontLeadingLines = static_cast<std::int32_t>(lines(m.a));
    images.frontTrailingLines = static_cast<std::int32_t>(lines(m.b));

    const std::int64_t multiple = std::max<std::int64_t>(acq.lineMultiple, 1);
    const std::int64_t wanted = acq.firstLineFront + lines(m.a) + lines(m.b) + std::max(height, 0);
    const std::int64_t rounded =
        std::min<std::int64_t>((wanted + multiple - 1) / multiple * multiple, kMaxLines);
    const auto h = static_cast<std::uint16_t>(rounded);
    for (ImageRecord& r : set) r.Height = 0;
    set[kFront].Height = h;
    if (!acq.singleBuffer && !Settings().scan.rearOff) set[kRear].Height = h;
    if (Settings().scan.backlightOn) set[kBacklight].Height = h;
    for (ImageRecord& r : set) r.height0 = r.Height;
}

bool InitMyImg() {
    ImagesRecord& images = Images();
    const DeviceIdentity id = device::Identity();
    const AcqModeSettings& acq = Settings().scan.acq;
    const AcqModeRecord& mode = device::AcqMode();
    const bool strip = mode.request.cmc7Strip;
    const std::size_t stripWidth = strip ? mode.stripBytes : 0;
    const bool ordinary = IsOrdinary(images);

    auto fail = [&] {
        LogValue("GetLastError", platform::LastSystemError());
        ReleaseImages();
        LogText("InitMyImg - memory allocation failed");
        SetLastResult(KVX_ERR_OUT_OF_MEMORY);
        return false;
    };

    images.nextImg = {};
    images.createdBytes = {};
    images.createdLead = {};
    for (int side : {kRear, kFront, kBacklight}) {
        ImageRecord& r = images.myImg[static_cast<std::size_t>(side)];
        r.alloc.reset();
        r.data = r.write = nullptr;
        r.allocSize = 0;
        if (r.Height == 0) continue;
        if (side == kBacklight && !Settings().scan.backlightOn) continue;
        // One stream: only the front owns lines; the others are views.
        if (acq.singleBuffer && side != kFront) continue;
        std::int32_t maxLines = r.Height;
        if (images.twoPartAcq)
            maxLines = std::max<std::int32_t>(r.dpiV * images.twoPartBlockLines / 150, r.Height);
        r.size = static_cast<std::int32_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(r.Height) * r.stride,
                                   std::numeric_limits<std::int32_t>::max()));
        images.capacity[static_cast<std::size_t>(side)] = static_cast<std::int32_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(maxLines) * r.stride,
                                   std::numeric_limits<std::int32_t>::max()));
        if (!AllocateRecord(r, maxLines, stripWidth, id.firmware)) {
            LogPair("err - ", "set image buffer with invalid memory allocation");
            return fail();
        }
        images.createdBytes[static_cast<std::size_t>(side)] = r.alloc->Size();
        images.createdLead[static_cast<std::size_t>(side)] = r.lead;
        if (ordinary) {
            ImageRecord& next = images.nextImg[static_cast<std::size_t>(side)];
            next = r;
            next.alloc.reset();
            if (!AllocateRecord(next, maxLines, stripWidth, id.firmware)) {
                LogPair("err - ", "set image buffer with invalid memory allocation");
                return fail();
            }
        }
    }
    if (ordinary) {
        // The views of the next set follow their own front.
        for (int side : {kRear, kBacklight})
            if (acq.singleBuffer || images.nextImg[static_cast<std::size_t>(side)].Height == 0)
                images.nextImg[static_cast<std::size_t>(side)] =
                    images.myImg[static_cast<std::size_t>(side)];
    }

    images.cmc7.reset();
    if (strip) {
        const std::int64_t lines =
            std::max(images.myImg[kFront].Height, images.myImg[kRear].Height);
        const std::int64_t bytes = lines * static_cast<std::int64_t>(stripWidth) * 2;
        images.cmc7 = bytes > 0 ? TakeMemory(static_cast<std::size_t>(bytes)) : nullptr;
        if (bytes > 0 && !images.cmc7) {
            LogPair("err - ", "set CMC7 buffer with invalid memory allocation");
            return fail();
        }
    }

    if (acq.singleBuffer) {
        PointViewsIntoFront(images.myImg);
        if (ordinary) PointViewsIntoFront(images.nextImg);
    }
    // What these images did not take is not kept beyond them.
    images.spare.clear();
    return true;
}

void SetImgSize() {
    const std::int32_t block = std::max<std::int32_t>(device::Identity().wBlock, 1);
    const bool strip = device::AcqMode().request.cmc7Strip;
    for (ImageRecord& r : Images().myImg) {
        if (r.Height == 0) continue;
        if (r.size < block) {
            r.size = 0;
            continue;
        }
        const std::int32_t old = r.size;
        const std::int64_t rounded = (static_cast<std::int64_t>(old) + block - 1) / block * block;
        r.size = static_cast<std::int32_t>(
            std::min<std::int64_t>(rounded, std::numeric_limits<std::int32_t>::max()));
        if (r.size != old && !strip)
            LogPairValue("err - ", "SetImgSize not multiple of wBlock", old);
    }
}

std::int32_t DefaultMaxHeight150() {
    const DeviceIdentity id = device::Identity();
    const DeviceCapabilities& caps = id.capabilities;
    std::int32_t h = kBaseMaxHeight150;
    if (caps.adf) {
        h += kFeederExtra;
        if (!Images().movementFlag) h += kFeederLongExtra;
    }
    if (caps.inkjetType1 || caps.inkjetType2) h += kInkjetExtra;
    const std::int32_t ini = Settings().scan.maxHeight150;
    if (ini != 0) h = ini;
    if (device::AcqMode().request.cmc7Strip) h *= kCmc7HeightFactor;
    return std::min(h, kMaxLines);
}

std::int32_t AllowedMaxHeight150() {
    const DeviceCapabilities caps = device::Identity().capabilities;
    std::int32_t h = kBaseMaxHeight150;
    if (caps.adf) h += kFeederExtra;
    if (caps.inkjetType1) h += kInkjetExtra;
    if (h > kMaxLines) {
        LogText("Max height limited");
        h = kMaxLines;
    }
    return h;
}

void ApplyDefaultMaxHeight() {
    Images().maxHeight150 = DefaultMaxHeight150();
}

void OpenDefaults() {
    ApplyDefaultMaxHeight();
    // The identification decided the sides (rear first on PID 11).
    const DeviceCapabilities& caps = device::Identity().capabilities;
    Images().codelineSide = caps.codelineSide;
    Images().otherSide = caps.otherSide;
}

namespace {

// The mode set-up re-creates the images: the feeder's background
// acquisition, which writes the next set, ends before its memory is freed
// or taken by the new images.
void FreeImagesForSetUp() {
    ADFThrClose();
    FreeImages();
}

}  // namespace

ImageHooks MakeImageHooks() {
    return {.secondPart = &SecondPart,
            .imagesInUse = &RefuseWhileAnotherScanRuns,
            .prepareStamp = nullptr,
            .freeImages = &FreeImagesForSetUp,
            .releaseImages = &ReleaseImages,
            .buildImages = &BuildImages,
            .openDefaults = &OpenDefaults};
}

}  // namespace acquisition
}  // namespace kovran
