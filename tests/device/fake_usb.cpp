#include "device/fake_usb.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "platform/sys_error.h"

namespace kovran::test {

namespace {

std::string Show(const platform::UsbSetup& s) {
    char text[64];
    std::snprintf(text, sizeof text, "%02X %02X %04X %04X %u", s.requestType, s.request, s.value,
                  s.index, s.length);
    return text;
}

bool Same(const platform::UsbSetup& a, const platform::UsbSetup& b) {
    return a.requestType == b.requestType && a.request == b.request && a.value == b.value &&
           a.index == b.index && a.length == b.length;
}

class FakeDevice : public platform::UsbDevice {
  public:
    FakeDevice(FakeUsb* usb, std::string path) : usb_(usb), path_(std::move(path)) {}
    int Control(const platform::UsbSetup& setup, std::uint8_t* data, std::size_t* transferred,
                unsigned) override {
        *transferred = 0;
        FakeNode* node = usb_->Find(path_);
        if (node == nullptr || !node->present) return platform::kErrorFileNotFound;
        return usb_->Control(*node, setup, data, transferred);
    }
    // Bulk transfers never finish by themselves; a cancel ends them.
    int SubmitBulk(platform::BulkPipe pipe, std::uint8_t*, std::size_t,
                   platform::BulkTransferId* id) override {
        *id = ++next_;
        pending_[*id] = {pipe, false};
        return 0;
    }
    int PollBulk(platform::BulkTransferId id, std::size_t* transferred) override {
        *transferred = 0;
        auto it = pending_.find(id);
        if (it == pending_.end()) return platform::kErrorInvalidParameter;
        if (!it->second.second) return platform::kErrorIoIncomplete;
        pending_.erase(it);
        return platform::kErrorOperationAborted;
    }
    int WaitBulk(platform::BulkTransferId id, std::size_t* transferred, unsigned) override {
        return PollBulk(id, transferred);
    }
    int CancelBulk(platform::BulkPipe pipe) override {
        for (auto& [id, p] : pending_)
            if (p.first == pipe) p.second = true;
        return 0;
    }
    int BulkInPacketSize(std::uint32_t* size) override {
        FakeNode* node = usb_->Find(path_);
        if (node == nullptr || !node->present) return platform::kErrorFileNotFound;
        *size = node->packet;
        return 0;
    }

  private:
    FakeUsb* usb_;
    std::string path_;
    platform::BulkTransferId next_ = 0;
    std::map<platform::BulkTransferId, std::pair<platform::BulkPipe, bool>> pending_;
};

}  // namespace

std::vector<std::uint8_t> FakeUsb::Descriptor(const std::u16string& text) {
    std::vector<std::uint8_t> d{static_cast<std::uint8_t>(2 + 2 * text.size()), 3};
    for (char16_t c : text) {
        d.push_back(static_cast<std::uint8_t>(c & 0xFF));
        d.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return d;
}

FakeNode& FakeUsb::AddScanner(std::uint16_t pid, const std::string& serial,
                              const std::string& location) {
    char head[32];
    std::snprintf(head, sizeof head, "\\\\?\\USB#VID_7E51&PID_%04X#", pid);
    const std::string path = head + location + "#{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}";
    FakeNode node;
    node.info = {path, 0x7E51, pid};
    node.descriptor = Descriptor(std::u16string(serial.begin(), serial.end()));
    nodes.push_back(node);
    return nodes.back();
}

FakeExchange& FakeUsb::ExpectIn(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                                std::uint16_t length, std::vector<std::uint8_t> reply) {
    FakeExchange e;
    e.setup = {requestType, request, value, 0, length};
    e.reply = reply.empty() ? std::vector<std::uint8_t>(length, 0) : std::move(reply);
    script.push_back(std::move(e));
    return script.back();
}

FakeExchange& FakeUsb::ExpectOut(std::uint8_t request, std::uint16_t value,
                                 std::vector<std::uint8_t> data) {
    FakeExchange e;
    e.setup = {0x40, request, value, 0, static_cast<std::uint16_t>(data.size())};
    e.out = std::move(data);
    script.push_back(std::move(e));
    return script.back();
}

FakeExchange& FakeUsb::ExpectError(std::uint8_t requestType, std::uint8_t request,
                                   std::uint16_t value, std::uint16_t length, int error) {
    FakeExchange& e = ExpectIn(requestType, request, value, length);
    e.error = error;
    return e;
}

std::vector<platform::UsbDeviceInfo> FakeUsb::Enumerate() {
    std::vector<platform::UsbDeviceInfo> list;
    for (const FakeNode& n : nodes)
        if (n.present) list.push_back(n.info);
    return list;
}

FakeNode* FakeUsb::Find(const std::string& path) {
    for (FakeNode& n : nodes) {
        std::string upper = n.info.path;
        std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
        if (upper == path || n.info.path == path) return &n;
    }
    return nullptr;
}

std::unique_ptr<platform::UsbDevice> FakeUsb::Open(const std::string& path, int* error) {
    FakeNode* node = Find(path);
    if (node == nullptr || !node->present || node->openError != 0) {
        *error = node != nullptr && node->present ? node->openError : platform::kErrorFileNotFound;
        ++failedOpens;
        return nullptr;
    }
    if (node->failOpens > 0) {
        --node->failOpens;
        *error = platform::kErrorNotReady;
        ++failedOpens;
        return nullptr;
    }
    ++opens;
    *error = 0;
    return std::make_unique<FakeDevice>(this, path);
}

int FakeUsb::Control(FakeNode& node, const platform::UsbSetup& setup, std::uint8_t* data,
                     std::size_t* transferred) {
    if (setup.requestType == 0x80 && setup.request == 6) {
        const std::size_t n = std::min<std::size_t>(setup.length, node.descriptor.size());
        std::copy_n(node.descriptor.begin(), n, data);
        *transferred = n;
        return 0;
    }
    seen.push_back(setup);
    if (script.empty()) {
        mismatches.push_back("unexpected " + Show(setup));
        return platform::kErrorGenFailure;
    }
    FakeExchange e = std::move(script.front());
    script.pop_front();
    if (!Same(e.setup, setup)) {
        mismatches.push_back("expected " + Show(e.setup) + " got " + Show(setup));
        return platform::kErrorGenFailure;
    }
    if (e.during) e.during();
    if (e.unplugs) {
        node.present = false;
        return platform::kErrorFileNotFound;
    }
    if (e.error != 0) return e.error;
    if (!setup.in()) {
        if (!std::equal(e.out.begin(), e.out.end(), data, data + setup.length))
            mismatches.push_back("wrong data for " + Show(setup));
        *transferred = setup.length;
        return 0;
    }
    const std::size_t n = std::min<std::size_t>(setup.length, e.reply.size());
    std::copy_n(e.reply.begin(), n, data);
    *transferred = static_cast<std::size_t>(static_cast<long>(n) + e.reportExtra);
    return 0;
}

}  // namespace kovran::test
