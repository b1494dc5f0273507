#include "imaging/retrieval/host_images.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>

#include "api/library.h"

namespace kovran::imaging::retrieval {

namespace {

struct HostImagesRecord {
    std::mutex mutex;
    std::map<const void*, std::unique_ptr<std::uint8_t[]>> handedOut;
    std::array<std::optional<Bytes>, 3> kept;
    std::array<KVXImgDescriptor, 2> descriptors{};
    std::array<std::int16_t, 4> region{};
};

HostImagesRecord& Record() {
    return lib().Get<HostImagesRecord>();
}

}  // namespace

std::uint8_t* HandOut(Bytes bytes) {
    std::unique_ptr<std::uint8_t[]> copy(new (std::nothrow) std::uint8_t[bytes.size() + 1]);
    if (!copy) return nullptr;
    if (!bytes.empty()) std::memcpy(copy.get(), bytes.data(), bytes.size());
    std::uint8_t* p = copy.get();
    HostImagesRecord& r = Record();
    const std::lock_guard lock(r.mutex);
    r.handedOut.emplace(p, std::move(copy));
    return p;
}

bool Release(const void* image) {
    HostImagesRecord& r = Record();
    const std::lock_guard lock(r.mutex);
    const auto it = r.handedOut.find(image);
    if (it == r.handedOut.end()) return false;
    for (KVXImgDescriptor& d : r.descriptors)
        if (d.image == image) d.image = nullptr;
    r.handedOut.erase(it);
    return true;
}

std::size_t HandedOut() {
    HostImagesRecord& r = Record();
    const std::lock_guard lock(r.mutex);
    return r.handedOut.size();
}

std::optional<Bytes>& KeptImage(int sideIndex) {
    return Record().kept.at(static_cast<std::size_t>(sideIndex));
}

KVXImgDescriptor* Descriptor(int sideIndex) {
    if (sideIndex != 0 && sideIndex != 1) return nullptr;
    return &Record().descriptors[static_cast<std::size_t>(sideIndex)];
}

std::optional<int> DescriptorSide(const void* handle) {
    for (int side : {0, 1})
        if (handle == Descriptor(side)) return side;
    return std::nullopt;
}

void KeepInDescriptor(int sideIndex, std::uint8_t* image) {
    KVXImgDescriptor* d = Descriptor(sideIndex);
    if (d == nullptr) return;
    if (d->image != nullptr && d->image != image) Release(d->image);
    d->image = image;
}

void ClearDescriptors() {
    for (int side : {0, 1}) {
        KVXImgDescriptor* d = Descriptor(side);
        if (d->image != nullptr) Release(d->image);
        *d = KVXImgDescriptor{};
    }
}

std::array<std::int16_t, 4>& StoredRegion() {
    return Record().region;
}

}  // namespace kovran::imaging::retrieval
